// Fuzz target: arbitrary bytes as the song cache file, and as a chart summarized for it; nothing may crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "content/chartSummary.h"
#include "content/songLibrary.h"

namespace {

std::string scratchFolder() {
    char folder[] = "/tmp/fuzz_song_cache.XXXXXX";
    if (!::mkdtemp(folder)) std::abort();
    return folder;
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A song folder of three songs, one in a group, and the cache a scan of it makes.
std::string realCache(const std::string& folder) {
    std::filesystem::create_directories(folder + "/sng/Pack");
    writeBytes(folder + "/sng/a0.txt", "1--- |(60)1|\n----\n----\n--2- |(120)2|\n");
    writeBytes(folder + "/sng/b2.txt", "x");
    writeBytes(folder + "/sng/Pack/c1.txt", "1--- |(90)1|\n");
    scanSongLibrary(folder + "/sng", folder + "/seed.sqlite3", nullptr);
    std::string bytes = readBytes(folder + "/seed.sqlite3");
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(folder + "/seed.sqlite3" + suffix);
    return bytes;
}

// An even first byte: the rest is the file. An odd one: the rest is (offset, offset, byte) patches
// written over a real cache.
std::string fileFromInput(const uint8_t* data, size_t size, const std::string& real) {
    if (size == 0 || data[0] % 2 == 0) return size == 0 ? std::string() : std::string(data + 1, data + size);
    std::string bytes = real;
    for (size_t at = 1; at + 3 <= size && !bytes.empty(); at += 3) {
        const size_t offset = (size_t(data[at]) << 8 | data[at + 1]) % bytes.size();
        bytes[offset] = static_cast<char>(data[at + 2]);
    }
    return bytes;
}

void removeCacheFiles(const std::string& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename() != "sng") std::filesystem::remove_all(entry.path());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string folder = scratchFolder();
    static const std::string real = realCache(folder);
    static auto parser = std::make_unique<TsongParser>();
    summarizeChart(*parser, std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string path = folder + "/songs.sqlite3";
    writeBytes(path, fileFromInput(data, size, real));
    scanSongLibrary(folder + "/sng", path, nullptr);
    scanSongLibrary(folder + "/sng", path, nullptr);
    removeCacheFiles(folder);
    return 0;
}
