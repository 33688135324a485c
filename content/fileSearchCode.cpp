// Folder listing by mask through the case-insensitive path resolver.
#include "content/fileSearchCode.h"

#include <algorithm>
#include <vector>

#include "platform/pathResolver.h"

namespace {

std::vector<std::string> cutNames(const std::vector<std::string>& names) {
    std::vector<std::string> cut;
    for (const std::string& name : names) {
        if (name.size() <= 5) continue;
        const std::string songName = name.substr(0, name.size() - 5);
        if (std::find(cut.begin(), cut.end(), songName) == cut.end()) cut.push_back(songName);
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
