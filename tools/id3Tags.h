// The title and artist an MP3's ID3 tags give (ID3v2.2 to v2.4 at the start, ID3v1 at the end).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// UTF-8 text; empty when the tags do not say.
struct TsongTags {
    std::string title;
    std::string artist;
};

// Bytes of an ID3v2 tag read ahead of the audio; a longer tag is read as far as this goes, which is
// plenty for the text frames taggers put first.
constexpr size_t largestTagBytesRead = 1 << 20;

// The tags of an ID3v2 tag at the start of head (the file's first bytes; a cut-off tag gives what
// its complete frames hold).
TsongTags id3v2Tags(std::string_view head);

// The tags of an ID3v1 tag: the file's last 128 bytes beginning with "TAG".
TsongTags id3v1Tags(std::string_view tail);

// The ID3v2 text where there is some, else the ID3v1 text; nothing when the file cannot be read.
TsongTags readSongTags(const std::string& path);
