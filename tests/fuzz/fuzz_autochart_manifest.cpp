// Fuzz target: arbitrary bytes as a batch's manifest; every entry read back holds a full digest and
// a group and name, and planning against it never crashes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/autochartBatchPlan.h"

namespace {

const std::string& scratchFolder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/fuzz_autochart_manifest.XXXXXX";
        if (!::mkdtemp(pattern)) std::abort();
        std::filesystem::create_directories(std::string(pattern) + "/in");
        std::ofstream(std::string(pattern) + "/in/song.mp3") << "not really music";
        return std::string(pattern);
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& folder = scratchFolder();
    {
        std::ofstream file(manifestPath(folder), std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    for (const TmanifestEntry& entry : readManifest(folder))
        if (entry.digest.size() != 64 || entry.group.empty() || entry.name.empty()) std::abort();
    for (const TbatchSong& song : planBatch(folder + "/in", folder))
        if (song.name.empty() || song.group.empty()) std::abort();
    return 0;
}
