// Fuzz target: arbitrary bytes as the records file, opened to read only and to keep plays; nothing may crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/store/recordsDatabase.h"

namespace {

std::string scratchFolder() {
    char folder[] = "/tmp/fuzz_records.XXXXXX";
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

TkeptPlay playWithPresses(int pressCount) {
    TkeptPlay play;
    play.chartSha256 = std::string(64, 'a');
    play.song = "Fuzz";
    play.markerCount = pressCount;
    for (int index = 0; index < pressCount; ++index) play.presses.push_back({index * 100.0, index % 16, index, 3, 1.5});
    return play;
}

// A real records file with a few plays: mutations of it reach past the file header into the tables.
std::string realDatabase(const std::string& folder) {
    const std::string path = folder + "/seed.sqlite3";
    {
        TrecordsDatabase records(path);
        for (int index = 0; index < 4; ++index) records.addPlay(playWithPresses(40));
    }
    std::string bytes = readBytes(path);
    std::filesystem::remove(path);
    return bytes;
}

// An even first byte: the rest is the file. An odd one: the rest is (offset, offset, byte) patches
// written over a real file.
std::string fileFromInput(const uint8_t* data, size_t size, const std::string& real) {
    if (size == 0 || data[0] % 2 == 0) return size == 0 ? std::string() : std::string(data + 1, data + size);
    std::string bytes = real;
    for (size_t at = 1; at + 3 <= size; at += 3) {
        const size_t offset = (size_t(data[at]) << 8 | data[at + 1]) % bytes.size();
        bytes[offset] = static_cast<char>(data[at + 2]);
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string folder = scratchFolder();
    static const std::string real = realDatabase(folder);
    const std::string path = folder + "/records.sqlite3";
    const std::string bytes = fileFromInput(data, size, real);
    writeBytes(path, bytes);
    {
        TrecordsDatabase reader(path, TrecordsAccess::read);
        reader.plays("");
        reader.bests("");
        reader.bestOf(std::string(64, 'a'), 0);
    }
    // The reader may have kept the file aside; the game then opens the same bytes.
    writeBytes(path, bytes);
    {
        TrecordsDatabase records(path);
        records.plays("");
        records.bests("Fuzz");
        records.play(1);
        records.bestOf(std::string(64, 'a'), 0);
        records.addPlay(playWithPresses(3));
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder)) std::filesystem::remove_all(entry.path());
    return 0;
}
