// The parts of the pack, each written by one call: texts, sounds, font, songs.
#pragma once

#include <string>
#include <vector>

#include "tools/stockpack/artStyle.h"
#include "tools/stockpack/packWriter.h"

namespace stockpack {

// A demo song as the welcome message describes it.
struct TdemoSongInfo {
    std::string name;
    double bpm;
};

// "latestVersion.txt" (this build's number) and "motd.txt" (UTF-16LE, CR LF).
void writeServerTexts(TpackWriter& pack, const std::vector<TdemoSongInfo>& songs);
// The program of this build as the server's "TrellikGL", with its digest added to
// "latestVersion.txt", so the server never names a program it does not hold.
void writeServerProgram(TpackWriter& pack, const std::string& programPath);
// The menu music, the launcher music and the two effects under server/snd/.
void writeStockSounds(TpackWriter& pack);
// "font.fnt" at the server root.
void writeConsoleFont(TpackWriter& pack);
// Music, preview, jacket and three charts per demo song under demo/sng/; returns the songs.
std::vector<TdemoSongInfo> writeDemoSongs(TpackWriter& pack, const TartFonts& fonts);

// Text as UTF-16LE bytes with CR LF line ends (the input uses LF).
std::vector<uint8_t> utf16WithCrLf(const std::string& utf8Text);

}  // namespace stockpack
