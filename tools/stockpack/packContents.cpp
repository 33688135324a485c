// Writes the server texts, stock sounds, console font and demo songs, and notes them in the manifest.
#include "tools/stockpack/packContents.h"

#include <openssl/evp.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "buildVersion.h"
#include "tools/stockpack/charts.h"
#include "tools/stockpack/fontFile.h"
#include "tools/stockpack/songArt.h"
#include "tools/stockpack/songBook.h"

namespace stockpack {

namespace {

constexpr float masterPeak = 0.84f;
constexpr double previewSeconds = 15.0;

std::string welcomeText(const std::vector<TdemoSongInfo>& songs) {
    std::ostringstream text;
    text << "Welcome to Trellik!\n\n";
    text << "Three demo songs are waiting on the song wheel:\n";
    for (const TdemoSongInfo& song : songs) {
        std::string name = song.name;
        name.resize(12, ' ');
        text << "  " << name << static_cast<int>(song.bpm) << " BPM\n";
    }
    text << "Each has three charts: BSC, ADV and EXT. Press a\n";
    text << "selected jacket again to change the difficulty.\n\n";
    text << "Default keys, one per panel, laid out like the grid:\n";
    text << "  4 5 6 7\n  R T Y U\n  F G H J\n  V B N M\n\n";
    text << "Press a panel's key as its marker closes in. Have fun!\n";
    return text.str();
}

nlohmann::json onsetSteps(const TcomposedSong& song) {
    static const char* const partNames[] = {"kick", "snare", "clap", "hat", "openHat", "crash", "bass", "lead", "chord", "arp"};
    nlohmann::json parts = nlohmann::json::object();
    for (const char* name : partNames) parts[name] = nlohmann::json::array();
    for (const Tonset& onset : song.onsets) parts[partNames[static_cast<int>(onset.part)]].push_back(onset.step);
    return parts;
}

nlohmann::json chartRecord(const TcomposedSong& song, const std::string& path, const std::vector<TchartRow>& rows) {
    nlohmann::json record = {{"path", path}, {"rows", nlohmann::json::array()}};
    int markers = 0;
    for (const TchartRow& row : rows) {
        const double heard = audibleTime(song, row.step);
        record["rows"].push_back({{"step", row.step}, {"perfectTime", heard}, {"chartTime", heard + perfectLeadSeconds}, {"panels", row.panels}});
        markers += static_cast<int>(row.panels.size());
    }
    record["markers"] = markers;
    return record;
}

void writeSong(TpackWriter& pack, const TartFonts& fonts, const TcomposedSong& song) {
    const std::string folder = "demo/sng/";
    pack.writeMp3(folder + song.name + ".mp3", master(song.audio, masterPeak));
    const size_t previewStart = static_cast<size_t>((song.leadIn + song.chorusBar * 16 * 15.0 / song.bpm - 0.1) * audioRate);
    TstereoBus preview = slice(song.audio, previewStart, static_cast<size_t>(previewSeconds * audioRate));
    fade(preview, 0.15, 2.5);
    pack.writeMp3(folder + song.name + "_prev.mp3", master(preview, masterPeak));
    pack.writeTga(folder + song.name + ".tga", drawJacket(song.name, song.bpm, fonts));
    nlohmann::json record = {{"name", song.name},     {"bpm", song.bpm},   {"leadIn", song.leadIn},
                             {"bars", song.bars},     {"stepSeconds", 15.0 / song.bpm},
                             {"frames", song.audio.frames()}, {"onsets", onsetSteps(song)}, {"charts", nlohmann::json::array()}};
    for (int difficulty = 0; difficulty < 3; ++difficulty) {
        const std::vector<TchartRow> rows = planChart(song, difficulty);
        const std::string path = folder + song.name + std::to_string(difficulty) + ".txt";
        pack.writeText(path, chartText(song, rows));
        record["charts"].push_back(chartRecord(song, path, rows));
    }
    pack.manifest()["songs"].push_back(record);
}

std::string latestVersionLine(const std::string& tokens) {
    return std::to_string(TRELLIK_VERSION_BUILD) + tokens + "\r\n";
}

std::vector<uint8_t> readProgram(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read the program " + path);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.empty()) throw std::runtime_error("the program " + path + " is empty");
    return bytes;
}

std::string sha256Hex(const std::vector<uint8_t>& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("cannot compute a SHA-256 digest");
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 0x0f];
    }
    return text;
}

}  // namespace

std::vector<uint8_t> utf16WithCrLf(const std::string& utf8Text) {
    std::vector<uint8_t> bytes;
    auto unit = [&bytes](uint32_t code) {
        bytes.push_back(static_cast<uint8_t>(code & 0xff));
        bytes.push_back(static_cast<uint8_t>(code >> 8));
    };
    for (size_t i = 0; i < utf8Text.size();) {
        const auto lead = static_cast<unsigned char>(utf8Text[i]);
        const int extra = lead >= 0xe0 ? 2 : lead >= 0xc0 ? 1 : 0;
        uint32_t code = extra == 0 ? lead : lead & (0x3f >> extra);
        for (int k = 1; k <= extra && i + static_cast<size_t>(k) < utf8Text.size(); ++k) {
            code = (code << 6) | (static_cast<unsigned char>(utf8Text[i + static_cast<size_t>(k)]) & 0x3f);
        }
        i += static_cast<size_t>(extra) + 1;
        if (code == '\n') unit('\r');
        unit(code);
    }
    return bytes;
}

void writeServerTexts(TpackWriter& pack, const std::vector<TdemoSongInfo>& songs) {
    pack.writeText("server/latestVersion.txt", latestVersionLine(""));
    pack.writeBytes("server/motd.txt", utf16WithCrLf(welcomeText(songs)));
    pack.manifest()["buildNumber"] = TRELLIK_VERSION_BUILD;
}

void writeServerProgram(TpackWriter& pack, const std::string& programPath) {
    const std::vector<uint8_t> program = readProgram(programPath);
    pack.writeBytes("server/TrellikGL", program);
    pack.writeText("server/latestVersion.txt", latestVersionLine(" sha256=" + sha256Hex(program)));
}

void writeStockSounds(TpackWriter& pack) {
    pack.writeMp3("server/snd/loadingmenumusic.mp3", master(composeLauncherLoop(), masterPeak));
    pack.writeMp3("server/snd/mainmenu.mp3", master(composeMenuLoop(), masterPeak));
    pack.writeMp3("server/snd/readyGo.mp3", master(composeReadyGo(), masterPeak));
    pack.writeMp3("server/snd/goButton.mp3", master(composeGoButton(), masterPeak));
    pack.writeMp3("server/snd/assistTick.mp3", master(composeAssistTick(), masterPeak));
    pack.writeMp3("server/snd/hitSound.mp3", master(composeHitSound(), masterPeak));
}

void writeConsoleFont(TpackWriter& pack) {
    const TfontLayout layout;
    pack.writeBytes("server/font.fnt", buildFontFile(layout));
    pack.manifest()["font"] = {{"path", "server/font.fnt"},           {"firstChar", layout.firstChar},
                               {"lastChar", layout.lastChar},         {"textureWidth", layout.textureWidth},
                               {"textureHeight", layout.textureHeight}, {"glyphWidth", layout.glyphWidth},
                               {"glyphHeight", layout.glyphHeight}};
}

std::vector<TdemoSongInfo> writeDemoSongs(TpackWriter& pack, const TartFonts& fonts) {
    // Composing is the slow part; the three songs are independent, so they are made side by side.
    TcomposedSong songs[3];
    std::thread skyline([&songs] { songs[1] = composeSkyline(); });
    songs[0] = composeDrift();
    songs[2] = composeOverdrive();
    skyline.join();
    std::vector<TdemoSongInfo> infos;
    for (const TcomposedSong& song : songs) {
        writeSong(pack, fonts, song);
        infos.push_back({song.name, song.bpm});
    }
    return infos;
}

}  // namespace stockpack
