// Fuzzes the ID3 reader: the input as the start of a file (ID3v2) and, when it is 128 bytes or
// more, its last 128 bytes as an ID3v1 tag. Whatever it reads must make a usable song name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tools/autochartBatchPlan.h"
#include "tools/id3Tags.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TsongTags tags = id3v2Tags(bytes);
    if (size >= 128) {
        const TsongTags old = id3v1Tags(bytes.substr(size - 128));
        if (tags.title.empty()) tags.title = old.title;
    }
    const std::string name = songNameOf(tags, "fallback");
    if (name.empty() || name.size() > longestNameBytes || name.find_first_of("/\\") != std::string::npos) std::abort();
    return 0;
}
