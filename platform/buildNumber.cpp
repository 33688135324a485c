// Finds the "Trellik" version note among the note sections of a 64-bit ELF file.
#include "platform/buildNumber.h"

#include <cstdint>
#include <cstring>
#include <elf.h>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

constexpr char noteName[] = "Trellik";
constexpr uint32_t versionNoteType = 0x5452;  // "TR"

template <typename T>
bool readAt(const unsigned char* data, size_t size, uint64_t offset, T& out) {
    if (offset > size || size - offset < sizeof(T)) return false;
    std::memcpy(&out, data + offset, sizeof(T));
    return true;
}

uint64_t alignTo4(uint64_t value) {
    return (value + 3) & ~uint64_t{3};
}

// Walks the notes of one section and returns the build number, or -1.
int buildNumberInNotes(const unsigned char* data, size_t size, uint64_t offset, uint64_t length) {
    if (offset > size || length > size - offset) return -1;
    const uint64_t end = offset + length;
    while (offset + sizeof(Elf64_Nhdr) <= end) {
        Elf64_Nhdr header{};
        if (!readAt(data, size, offset, header)) return -1;
        const uint64_t nameAt = offset + sizeof(header);
        const uint64_t descAt = nameAt + alignTo4(header.n_namesz);
        const uint64_t next = descAt + alignTo4(header.n_descsz);
        if (next > end || next <= offset) return -1;
        const bool ours = header.n_type == versionNoteType && header.n_namesz == sizeof(noteName) &&
                          std::memcmp(data + nameAt, noteName, sizeof(noteName)) == 0;
        if (ours && header.n_descsz >= 4 * sizeof(uint16_t)) {
            uint16_t version[4];
            std::memcpy(version, data + descAt, sizeof(version));
            return version[3];
        }
        offset = next;
    }
    return -1;
}

// The start of an ELF header up to its machine field, which is laid out alike in both classes.
struct TelfStart {
    unsigned char ident[EI_NIDENT];
    uint16_t type;
    uint16_t machine;
};

bool readElfStart(const std::string& path, TelfStart& start) {
    std::ifstream file(path, std::ios::binary);
    return file.read(reinterpret_cast<char*>(&start), sizeof(start)) &&
           std::memcmp(start.ident, ELFMAG, SELFMAG) == 0;
}

}  // namespace

bool isProgramForThisMachine(const std::string& path) {
    // The running program is one for this machine by definition.
    TelfStart self{};
    TelfStart other{};
    if (!readElfStart("/proc/self/exe", self) || !readElfStart(path, other)) return false;
    // The fields below are compared in the file's byte order, which must be the running one's.
    return other.ident[EI_CLASS] == self.ident[EI_CLASS] && other.ident[EI_DATA] == self.ident[EI_DATA] &&
           other.machine == self.machine && (other.type == ET_EXEC || other.type == ET_DYN);
}

int buildNumberFromBytes(const unsigned char* data, size_t size) {
    Elf64_Ehdr header{};
    if (!readAt(data, size, 0, header)) return -1;
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64) return -1;
    if (header.e_shentsize != sizeof(Elf64_Shdr)) return -1;
    for (uint32_t index = 0; index < header.e_shnum; ++index) {
        Elf64_Shdr section{};
        if (!readAt(data, size, header.e_shoff + uint64_t{index} * sizeof(Elf64_Shdr), section)) return -1;
        if (section.sh_type != SHT_NOTE) continue;
        const int build = buildNumberInNotes(data, size, section.sh_offset, section.sh_size);
        if (build >= 0) return build;
    }
    return -1;
}

int getBuildNumber(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return -1;
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return buildNumberFromBytes(bytes.data(), bytes.size());
}
