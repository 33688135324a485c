// The stock pack the build made: the same bytes on every run, the server texts, the stock file
// names, the font, the skins and the charts, checked against the tool's own manifest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "buildVersion.h"
#include "content/trellikSongDataLoader.h"
#include "platform/window/glFont.h"
#include "tests/support/childProcess.h"
#include "tests/support/testSupport.h"

namespace {

namespace fs = std::filesystem;

std::string packFolder() { return std::string(TRELLIK_BINARY_DIR) + "/stockpack"; }

const nlohmann::json& manifest() {
    static const nlohmann::json parsed = nlohmann::json::parse(readFile(packFolder() + "/manifest.json"));
    return parsed;
}

// Every file below root, by its path relative to root.
std::map<std::string, std::string> filesBelow(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) files[fs::relative(entry.path(), root).string()] = readFile(entry.path().string());
    }
    return files;
}

// UTF-16LE bytes as code units.
std::u16string utf16(const std::string& bytes) {
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8));
    }
    return text;
}

std::u16string ascii16(const std::string& text) { return std::u16string(text.begin(), text.end()); }

}  // namespace

TEST(StockpackOutput, TwoRunsWriteIdenticalFiles) {
    TtemporaryFolder second;
    const int status = TchildProcess(builtProgram("tools/trellik-stockpack"),
                                     {"--out", second.path(), "--program", builtProgram("launcher/TrellikGL38")},
                                     second.path(), {}, second.file("log.txt"))
                           .wait();
    ASSERT_EQ(status, 0) << readFile(second.file("log.txt"));
    fs::remove(second.file("log.txt"));
    std::map<std::string, std::string> first = filesBelow(packFolder());
    first.erase("stamp");
    const std::map<std::string, std::string> again = filesBelow(second.path());
    ASSERT_EQ(first.size(), again.size());
    for (const auto& [path, bytes] : first) {
        const auto found = again.find(path);
        ASSERT_NE(found, again.end()) << path << " missing from the second run";
        EXPECT_TRUE(found->second == bytes) << path << " differs between runs";
    }
}

TEST(StockpackOutput, RefusesAMissingOutputFolderArgument) {
    TtemporaryFolder logs;
    EXPECT_EQ(TchildProcess(builtProgram("tools/trellik-stockpack"), {"--out"}, logs.path(), {}, logs.file("log.txt")).wait(), 2);
    EXPECT_NE(readFile(logs.file("log.txt")).find("usage: trellik-stockpack --out DIR"), std::string::npos);
}

TEST(StockpackServer, MessageOfTheDayIsUtf16WithCrLfAndNamesSongsAndKeys) {
    const std::string bytes = readFile(packFolder() + "/server/motd.txt");
    ASSERT_EQ(bytes.size() % 2, 0u);
    const std::u16string text = utf16(bytes);
    // Plain text from the first character: no byte-order mark, which the launcher would show.
    EXPECT_EQ(text.rfind(ascii16("Welcome to Trellik!\r\n"), 0), 0u);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n') {
            EXPECT_TRUE(i > 0 && text[i - 1] == u'\r') << "bare LF at unit " << i;
        } else if (text[i] == u'\r') {
            EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == u'\n') << "bare CR at unit " << i;
        }
    }
    for (const auto& song : manifest()["songs"]) {
        EXPECT_NE(text.find(ascii16(song["name"].get<std::string>())), std::u16string::npos) << song["name"];
    }
    EXPECT_NE(text.find(ascii16("4 5 6 7\r\n  R T Y U\r\n  F G H J\r\n  V B N M")), std::u16string::npos);
}

TEST(StockpackServer, LatestVersionHoldsThisBuildsNumberAndTheDigestOfTheProgramBeside) {
    const std::string text = readFile(packFolder() + "/server/latestVersion.txt");
    const std::string start = std::to_string(TRELLIK_VERSION_BUILD) + " sha256=";
    EXPECT_EQ(text.rfind(start, 0), 0u) << text;
    EXPECT_EQ(text.size(), start.size() + 64 + 2) << text;
    EXPECT_TRUE(text.ends_with("\r\n"));
    EXPECT_TRUE(readFile(packFolder() + "/server/TrellikGL") == readFile(builtProgram("launcher/TrellikGL38")));
}

TEST(StockpackServer, EveryStockFileExistsUnderItsExactName) {
    std::vector<std::string> names = {"snd/loadingmenumusic.mp3", "snd/mainmenu.mp3", "snd/readyGo.mp3", "snd/goButton.mp3",
                                      "snd/assistTick.mp3", "snd/hitSound.mp3", "gfx/bigLogo.tga", "gfx/blank.tga", "gfx/leftArrow.tga", "gfx/rightArrow.tga",
                                      "gfx/markerButton.tga", "gfx/goButton.tga", "gfx/backButton.tga", "gfx/coverBorder.tga",
                                      "gfx/coverGlow.tga", "gfx/startHere.tga", "gfx/comboText.tga", "gfx/topShutter.tga",
                                      "gfx/btmShutter.tga", "gfx/panelHighlight.tga", "gfx/defaultCover.jpg", "font.fnt",
                                      "latestVersion.txt", "motd.txt", "TrellikGL"};
    for (int digit = 0; digit < 10; ++digit) names.push_back("gfx/" + std::to_string(digit) + ".tga");
    std::set<std::string> present;
    for (const auto& [path, bytes] : filesBelow(packFolder() + "/server")) present.insert(path);
    for (const std::string& name : names) EXPECT_TRUE(present.count(name)) << name;
    EXPECT_EQ(present.size(), names.size()) << "the server root holds only the stock files";
}

TEST(StockpackImages, EveryTgaIsUncompressed32BitBottomUpWithoutIdField) {
    for (const auto& image : manifest()["images"]) {
        const std::string path = image["path"];
        if (!path.ends_with(".tga")) continue;
        const std::string bytes = readFile(packFolder() + "/" + path);
        ASSERT_GE(bytes.size(), 18u) << path;
        const auto byte = [&bytes](size_t i) { return static_cast<uint8_t>(bytes[i]); };
        EXPECT_EQ(byte(0), 0) << path << ": identification field";
        EXPECT_EQ(byte(1), 0) << path << ": colour map";
        EXPECT_EQ(byte(2), 2) << path << ": image type";
        EXPECT_EQ(byte(16), 32) << path << ": depth";
        EXPECT_EQ(byte(17), 8) << path << ": eight alpha bits, bottom-left origin";
        const int width = byte(12) | byte(13) << 8;
        const int height = byte(14) | byte(15) << 8;
        EXPECT_EQ(width, image["width"].get<int>()) << path;
        EXPECT_EQ(height, image["height"].get<int>()) << path;
        EXPECT_EQ(bytes.size(), 18u + static_cast<size_t>(width) * height * 4) << path;
    }
}

TEST(StockpackFont, HoldsEveryPrintableLatin1GlyphInkedInsideItsCell) {
    const TglFontData data = parseFont(readFile(packFolder() + "/server/font.fnt"), "font.fnt");
    const TglFont& font = data.font;
    EXPECT_LE(font.firstChar, 32);
    EXPECT_GE(font.lastChar, 255);
    EXPECT_EQ(font.texWidth & (font.texWidth - 1), 0) << "power-of-two width";
    EXPECT_EQ(font.texHeight & (font.texHeight - 1), 0) << "power-of-two height";
    auto inkIn = [&](const TglFontGlyph& glyph) {
        int ink = 0;
        const int left = static_cast<int>(std::lround(glyph.tx1 * font.texWidth));
        const int right = static_cast<int>(std::lround(glyph.tx2 * font.texWidth));
        const int top = static_cast<int>(std::lround(glyph.ty1 * font.texHeight));
        const int bottom = static_cast<int>(std::lround(glyph.ty2 * font.texHeight));
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) ink += data.texels[2 * (static_cast<size_t>(y) * font.texWidth + x) + 1] > 128;
        }
        return ink;
    };
    for (int code = 32; code <= 255; ++code) {
        if (code >= 127 && code <= 160) continue;  // controls and the no-break space have no ink
        const TglFontGlyph* glyph = glyphFor(font, static_cast<char16_t>(code));
        ASSERT_NE(glyph, nullptr) << code;
        EXPECT_NEAR(glyph->dx, 0.9, 1e-6) << code;
        EXPECT_NEAR(glyph->dy, 1.6, 1e-6) << code;
        if (code != 32 && code != 173) {
            EXPECT_GT(inkIn(*glyph), 0) << "glyph " << code << " is blank";
        }
    }
    EXPECT_EQ(inkIn(*glyphFor(font, u' ')), 0);
    // Luminance is white everywhere, so the console's colour alone tints the text.
    for (size_t i = 0; i < data.texels.size(); i += 2) ASSERT_EQ(data.texels[i], 255) << "texel " << i / 2;
}

TEST(StockpackSkins, EveryStateHasEightToTwentyFiveFramesAndEverySkinAPreview) {
    const std::string folder = packFolder() + "/demo/MKR/";
    std::set<std::string> skins;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        skins.insert(name.substr(0, name.find('_')));
    }
    EXPECT_GE(skins.size(), 2u);
    for (const std::string& skin : skins) {
        EXPECT_TRUE(fs::exists(folder + skin + "_prev.tga")) << skin;
        for (const char* state : {"normal", "normalpassed", "perfect", "great", "good", "bad", "miss"}) {
            int frames = 0;
            while (fs::exists(folder + skin + "_" + state + "_" + std::to_string(frames) + ".tga")) ++frames;
            EXPECT_GE(frames, 8) << skin << " " << state;
            EXPECT_LE(frames, 25) << skin << " " << state;
        }
    }
}

TEST(StockpackSongs, EachSongHasMusicPreviewJacketAndThreeChartsAtItsOwnTempo) {
    std::set<double> tempos;
    for (const auto& song : manifest()["songs"]) {
        const std::string base = packFolder() + "/demo/sng/" + song["name"].get<std::string>();
        for (const char* suffix : {".mp3", "_prev.mp3", ".tga", "0.txt", "1.txt", "2.txt"}) {
            EXPECT_TRUE(fs::exists(base + suffix)) << base << suffix;
        }
        const double seconds = song["frames"].get<double>() / 44100.0;
        EXPECT_GE(seconds, 60.0) << song["name"];
        EXPECT_LE(seconds, 120.0) << song["name"];
        for (const double other : tempos) EXPECT_GT(std::fabs(other - song["bpm"].get<double>()), 20.0) << song["name"];
        tempos.insert(song["bpm"].get<double>());
    }
    EXPECT_GE(tempos.size(), 3u);
}

// The game's own parser reads every chart, lint-clean, with the rows and panels the tool meant;
// each row's perfect moment (50 ms before its chart time) falls on a sixteenth where the music
// plays something, and the density rises with the difficulty.
TEST(StockpackCharts, ParseCleanlyAndPutEveryRowOnAnAudibleStep) {
    for (const auto& song : manifest()["songs"]) {
        std::set<int> soundingSteps;
        for (const auto& [part, steps] : song["onsets"].items()) {
            for (const int step : steps) soundingSteps.insert(step);
        }
        const double leadIn = song["leadIn"];
        const double stepSeconds = song["stepSeconds"];
        size_t previousRows = 0;
        for (const auto& chart : song["charts"]) {
            const std::string path = packFolder() + "/" + chart["path"].get<std::string>();
            auto parser = std::make_unique<TsongParser>();
            TchartFindings findings;
            const TchartOutcome outcome = loadChartFile(*parser, path, false, &findings);
            ASSERT_TRUE(outcome.accepted) << path;
            for (const TchartFinding& finding : findings) ADD_FAILURE() << path << ":" << finding.line << ": " << finding.text;
            const auto& rows = chart["rows"];
            ASSERT_EQ(parser->entryCount, static_cast<int32_t>(rows.size())) << path;
            EXPECT_EQ(outcome.groups, parser->entryCount) << path;
            EXPECT_EQ(parser->markerCount, chart["markers"].get<int32_t>()) << path;
            for (size_t i = 0; i < rows.size(); ++i) {
                const ChartEntry& entry = parser->entries[i];
                const double perfect = entry.time - 0.050;
                EXPECT_NEAR(perfect, rows[i]["perfectTime"].get<double>(), 1e-6) << path << " row " << i;
                const double step = (perfect - leadIn) / stepSeconds;
                EXPECT_NEAR(step, std::round(step), 1e-6) << path << " row " << i << " is off the sixteenth grid";
                EXPECT_TRUE(soundingSteps.count(static_cast<int>(std::lround(step)))) << path << " row " << i << " on a silent step";
                std::vector<int> panels;
                for (int k = 0; k < 16; ++k) {
                    if (entry.panels[k]) panels.push_back(k);
                }
                EXPECT_EQ(panels, rows[i]["panels"].get<std::vector<int>>()) << path << " row " << i;
            }
            EXPECT_GT(rows.size(), previousRows) << path << " is not denser than the easier chart";
            previousRows = rows.size();
        }
    }
}

// A panel's marker lives from 550 ms before its beat to 300 ms after; a chart that puts a new
// marker on a panel before the old one is gone would overwrite it unscored.
TEST(StockpackCharts, NoPanelGetsANewMarkerWhileItsLastOneLives) {
    for (const auto& song : manifest()["songs"]) {
        for (const auto& chart : song["charts"]) {
            std::map<int, double> lastBeat;
            for (const auto& row : chart["rows"]) {
                const double beat = row["perfectTime"];
                for (const int panel : row["panels"]) {
                    if (lastBeat.count(panel)) {
                        EXPECT_GE(beat - lastBeat[panel], 0.85) << chart["path"] << " panel " << panel;
                    }
                    lastBeat[panel] = beat;
                }
            }
        }
    }
}
