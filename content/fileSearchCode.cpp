// Folder listing by mask through the case-insensitive path resolver.
#include "content/fileSearchCode.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "platform/store/pathResolver.h"

namespace {

// Chart names end in a difficulty digit and ".txt"; what stands before them is the song name.
constexpr size_t cutCharacters = 5;

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The name without its last characters; UTF-8 sequences count as one character each.
std::string withoutLastCharacters(const std::string& name, size_t count) {
    size_t end = name.size();
    for (size_t removed = 0; removed < count && end > 0; ++removed) {
        --end;
        while (end > 0 && isContinuationByte(name[end])) --end;
    }
    return name.substr(0, end);
}

std::vector<std::string> cutNames(const std::vector<std::string>& names) {
    std::vector<std::string> cut;
    std::unordered_set<std::string> seen;
    for (const std::string& name : names) {
        const std::string songName = withoutLastCharacters(name, cutCharacters);
        if (!songName.empty() && seen.insert(songName).second) cut.push_back(songName);
    }
    return cut;
}

}  // namespace

void searchFiles(const std::string& folder, const std::string& mask, TsearchResults& results, bool cut) {
    std::vector<std::string> names = listFolder(folder, mask);
    if (cut) names = cutNames(names);
    const size_t kept = std::min<size_t>(names.size(), searchResultCapacity);
    for (size_t i = 0; i < kept; ++i) results.names[i] = names[i];
    for (size_t i = kept; i < searchResultCapacity; ++i) results.names[i].clear();
}
