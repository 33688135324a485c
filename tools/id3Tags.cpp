// ID3 tag reading: only the title and artist frames, decoded to UTF-8.
#include "tools/id3Tags.h"

#include <algorithm>
#include <fstream>
#include <vector>

namespace {

constexpr size_t headerBytes = 10;
constexpr size_t id3v1Bytes = 128;
constexpr uint8_t unsynchronisedFlag = 0x80;
constexpr uint8_t extendedHeaderFlag = 0x40;

uint32_t bigEndian(std::string_view bytes, size_t at, size_t count) {
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

// Seven bits a byte, so that no size holds a false frame sync.
uint32_t syncsafe(std::string_view bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = value << 7 | (static_cast<uint8_t>(bytes[at + i]) & 0x7F);
    return value;
}

// Takes out the zero byte written after every 0xFF to keep decoders from taking it for audio.
std::string withoutUnsynchronisation(std::string_view bytes) {
    std::string plain;
    plain.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        plain += bytes[i];
        if (static_cast<uint8_t>(bytes[i]) == 0xFF && i + 1 < bytes.size() && bytes[i + 1] == 0) ++i;
    }
    return plain;
}

void appendUtf8(std::string& text, uint32_t codePoint) {
    if (codePoint < 0x80) {
        text += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        text += static_cast<char>(0xC0 | codePoint >> 6);
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        text += static_cast<char>(0xE0 | codePoint >> 12);
        text += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | codePoint >> 18);
        text += static_cast<char>(0x80 | (codePoint >> 12 & 0x3F));
        text += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

std::string latin1Text(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        if (c == 0) break;
        appendUtf8(text, static_cast<uint8_t>(c));
    }
    return text;
}

uint32_t utf16Unit(std::string_view bytes, size_t at, bool bigEndianOrder) {
    const uint32_t first = static_cast<uint8_t>(bytes[at]);
    const uint32_t second = static_cast<uint8_t>(bytes[at + 1]);
    return bigEndianOrder ? first << 8 | second : second << 8 | first;
}

bool isHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool isLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit < 0xE000; }

// UTF-16 up to its first zero unit; a byte order mark sets the order, a lone surrogate is U+FFFD.
std::string utf16Text(std::string_view bytes, bool bigEndianOrder) {
    std::string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const uint32_t unit = utf16Unit(bytes, i, bigEndianOrder);
        if (unit == 0) break;
        if (unit == 0xFEFF) continue;
        if (unit == 0xFFFE) {
            bigEndianOrder = !bigEndianOrder;
            continue;
        }
        const uint32_t next = i + 3 < bytes.size() ? utf16Unit(bytes, i + 2, bigEndianOrder) : 0;
        if (isHighSurrogate(unit) && isLowSurrogate(next)) {
            appendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
            i += 2;
        } else {
            appendUtf8(text, isHighSurrogate(unit) || isLowSurrogate(unit) ? 0xFFFD : unit);
        }
    }
    return text;
}

// A text frame's first value: an encoding byte, then the text (ISO-8859-1, UTF-16 with or without
// a byte order mark, or UTF-8).
std::string frameText(std::string_view frame) {
    if (frame.empty()) return {};
    const std::string_view text = frame.substr(1);
    switch (frame[0]) {
    case 0: return latin1Text(text);
    case 1: return utf16Text(text, false);
    case 2: return utf16Text(text, true);
    case 3: return std::string(text.substr(0, text.find('\0')));
    default: return {};
    }
}

// Frame layouts: v2.2 has three-letter names and three-byte sizes; v2.4 sizes are syncsafe.
struct TframeLayout {
    size_t nameBytes;
    size_t headerBytes;
    bool syncsafeSizes;
    const char* title;
    const char* artist;
};

TframeLayout layoutOf(int version) {
    if (version == 2) return {3, 6, false, "TT2", "TP1"};
    return {4, 10, version == 4, "TIT2", "TPE1"};
}

bool isFrameName(std::string_view name) {
    for (const char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

// The frame's text with the v2.4 per-frame unsynchronisation and data length taken off; empty for
// compressed or encrypted frames.
std::string frameContent(std::string_view data, int version, uint8_t formatFlags, bool tagUnsynchronised) {
    if (version != 4) return std::string(data);
    if (formatFlags & 0x0C) return {};
    if (formatFlags & 0x01) data = data.size() >= 4 ? data.substr(4) : std::string_view();
    return (formatFlags & 0x02) || tagUnsynchronised ? withoutUnsynchronisation(data) : std::string(data);
}

TsongTags readFrames(std::string_view frames, int version, bool tagUnsynchronised) {
    const TframeLayout layout = layoutOf(version);
    TsongTags tags;
    size_t at = 0;
    while (at + layout.headerBytes <= frames.size()) {
        const std::string_view name = frames.substr(at, layout.nameBytes);
        if (!isFrameName(name)) break;
        const size_t size = layout.syncsafeSizes ? syncsafe(frames, at + 4) : bigEndian(frames, at + layout.nameBytes, layout.nameBytes);
        const size_t start = at + layout.headerBytes;
        if (size > frames.size() - start) break;
        const uint8_t formatFlags = version == 2 ? 0 : static_cast<uint8_t>(frames[at + 9]);
        const std::string content = frameContent(frames.substr(start, size), version, formatFlags, tagUnsynchronised);
        if (name == layout.title && tags.title.empty()) tags.title = frameText(content);
        if (name == layout.artist && tags.artist.empty()) tags.artist = frameText(content);
        at = start + size;
    }
    return tags;
}

// Where the frames start after the extended header, or past the end when it does not fit.
size_t framesStart(std::string_view body, int version, uint8_t flags) {
    if (version == 2 || !(flags & extendedHeaderFlag)) return 0;
    if (body.size() < 4) return body.size();
    return version == 4 ? syncsafe(body, 0) : size_t{4} + bigEndian(body, 0, 4);
}

std::string_view trimmedLatin1Field(std::string_view field) {
    field = field.substr(0, field.find('\0'));
    while (!field.empty() && field.back() == ' ') field.remove_suffix(1);
    return field;
}

std::string readHead(std::ifstream& file) {
    std::string head(headerBytes, '\0');
    if (!file.read(head.data(), headerBytes) || !head.starts_with("ID3")) return {};
    const size_t wanted = std::min(largestTagBytesRead, static_cast<size_t>(syncsafe(head, 6)));
    head.resize(headerBytes + wanted);
    file.read(head.data() + headerBytes, static_cast<std::streamsize>(wanted));
    head.resize(headerBytes + static_cast<size_t>(file.gcount()));
    return head;
}

std::string readTail(std::ifstream& file) {
    file.clear();
    file.seekg(0, std::ios::end);
    if (!file || file.tellg() < static_cast<std::streamoff>(id3v1Bytes)) return {};
    file.seekg(-static_cast<std::streamoff>(id3v1Bytes), std::ios::end);
    std::string tail(id3v1Bytes, '\0');
    return file.read(tail.data(), id3v1Bytes) ? tail : std::string();
}

}  // namespace

TsongTags id3v2Tags(std::string_view head) {
    if (head.size() < headerBytes || !head.starts_with("ID3")) return {};
    const int version = static_cast<uint8_t>(head[3]);
    if (version < 2 || version > 4) return {};
    const uint8_t flags = static_cast<uint8_t>(head[5]);
    const size_t size = std::min(static_cast<size_t>(syncsafe(head, 6)), head.size() - headerBytes);
    std::string body(head.substr(headerBytes, size));
    const bool unsynchronised = flags & unsynchronisedFlag;
    if (unsynchronised && version != 4) body = withoutUnsynchronisation(body);
    const size_t start = framesStart(body, version, flags);
    if (start >= body.size()) return {};
    return readFrames(std::string_view(body).substr(start), version, unsynchronised);
}

TsongTags id3v1Tags(std::string_view tail) {
    if (tail.size() != id3v1Bytes || !tail.starts_with("TAG")) return {};
    return {latin1Text(trimmedLatin1Field(tail.substr(3, 30))), latin1Text(trimmedLatin1Field(tail.substr(33, 30)))};
}

TsongTags readSongTags(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    TsongTags tags = id3v2Tags(readHead(file));
    if (!tags.title.empty() && !tags.artist.empty()) return tags;
    const TsongTags old = id3v1Tags(readTail(file));
    if (tags.title.empty()) tags.title = old.title;
    if (tags.artist.empty()) tags.artist = old.artist;
    return tags;
}
