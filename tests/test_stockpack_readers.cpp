// The stock pack read back with the game's own image decoders and sound engine: every image
// decodes at the size the tool meant and the right way up, every MP3 lasts as long as the tool
// meant, and the songs' kicks sound where the tool says it put them (where the charts point).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "content/imageDecoders.h"
#include "platform/sound/audioDecoder.h"
#include "platform/sound/soundEngine.h"
#include "tests/support/testSupport.h"

namespace {

std::string packFolder() { return std::string(TRELLIK_BINARY_DIR) + "/stockpack"; }

const nlohmann::json& manifest() {
    static const nlohmann::json parsed = nlohmann::json::parse(readFile(packFolder() + "/manifest.json"));
    return parsed;
}

std::vector<uint8_t> fileBytes(const std::string& relativePath) {
    const std::string text = readFile(packFolder() + "/" + relativePath);
    return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace

namespace {

TdecodedImage decodeStockImage(const std::string& path) {
    const std::vector<uint8_t> bytes = fileBytes(path);
    return path.ends_with(".jpg") ? decodeJpeg(bytes.data(), bytes.size()) : decodeTga(bytes.data(), bytes.size());
}

// Mean of R + G + B over a band of rows, counted from the bottom of the picture.
double brightnessOfRows(const TpixelBuffer& image, uint32_t firstRow, uint32_t rows) {
    double sum = 0;
    const size_t step = bytesPerPixel(image.layout);
    for (uint32_t y = firstRow; y < firstRow + rows; ++y) {
        for (uint32_t x = 0; x < image.width; ++x) {
            const size_t at = (static_cast<size_t>(y) * image.width + x) * step;
            sum += image.pixels[at] + image.pixels[at + 1] + image.pixels[at + 2];
        }
    }
    return sum / (static_cast<double>(rows) * image.width);
}

}  // namespace

TEST(StockpackReaders, EveryImageDecodesAtTheSizeTheToolMeant) {
    for (const auto& image : manifest()["images"]) {
        const std::string path = image["path"];
        const TdecodedImage decoded = decodeStockImage(path);
        ASSERT_TRUE(decoded.ok()) << path;
        EXPECT_EQ(decoded.image.width, image["width"].get<uint32_t>()) << path;
        EXPECT_EQ(decoded.image.height, image["height"].get<uint32_t>()) << path;
        EXPECT_EQ(decoded.image.layout, TpixelLayout::rgba) << path;
    }
}

TEST(StockpackReaders, ShuttersMeetWithTheirBrightEdgesTheRightWayUp) {
    // The top shutter's bright strip is its lower edge, the bottom shutter's its upper edge;
    // decoded rows run from the bottom of the picture.
    const TpixelBuffer top = decodeStockImage("server/gfx/topShutter.tga").image;
    const TpixelBuffer bottom = decodeStockImage("server/gfx/btmShutter.tga").image;
    ASSERT_EQ(top.height, 512u);
    ASSERT_EQ(bottom.height, 512u);
    EXPECT_GT(brightnessOfRows(top, 0, 32), 2 * brightnessOfRows(top, 480, 32));
    EXPECT_GT(brightnessOfRows(bottom, 480, 32), 2 * brightnessOfRows(bottom, 0, 32));
}

TEST(StockpackReaders, BlankIsOpaqueWhite) {
    const TpixelBuffer blank = decodeStockImage("server/gfx/blank.tga").image;
    for (const uint8_t component : blank.pixels) ASSERT_EQ(component, 255);
}

namespace {

class StockpackSound : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("TRELLIK_AUDIO", "silent", 1);
        static Tsounds sounds;
    }
};

// Mono energy of the decoded song in [from, from + length) seconds.
double energy(const std::vector<int16_t>& stereo, double from, double length) {
    const size_t first = static_cast<size_t>(std::max(0.0, from) * 44100);
    const size_t last = std::min(stereo.size() / 2, static_cast<size_t>((from + length) * 44100));
    double sum = 0;
    for (size_t i = first; i < last; ++i) {
        const double mono = (stereo[2 * i] + stereo[2 * i + 1]) / 65536.0;
        sum += mono * mono;
    }
    return sum;
}

}  // namespace

TEST_F(StockpackSound, EveryMp3LastsAsLongAsTheToolMeant) {
    for (const auto& sound : manifest()["sounds"]) {
        const std::string path = sound["path"];
        const std::vector<int16_t> samples = decodeWholeMp3(fileBytes(path), 200 * 44100);
        EXPECT_EQ(samples.size() / 2, sound["frames"].get<size_t>()) << path;
        Tstream stream;
        ASSERT_NE(stream.open(packFolder() + "/" + path), nullptr) << path;
        EXPECT_NEAR(stream.lengthMS(), sound["milliseconds"].get<double>(), 1.0) << path;
    }
}

// Energy rises where a kick starts. Summed over all kicks, the rise is largest when the
// decoded audio is read exactly at the times the manifest gives, not a few milliseconds off
// (as an encoder delay left in the file would make it).
TEST_F(StockpackSound, KicksSoundWhereTheToolPutThem) {
    for (const auto& song : manifest()["songs"]) {
        const std::string path = "demo/sng/" + song["name"].get<std::string>() + ".mp3";
        const std::vector<int16_t> samples = decodeWholeMp3(fileBytes(path), 200 * 44100);
        const double leadIn = song["leadIn"];
        const double stepSeconds = song["stepSeconds"];
        const std::vector<int> kicks = song["onsets"]["kick"];
        ASSERT_GT(kicks.size(), 50u) << path;
        int bestShift = 0;
        double bestRise = -1e30;
        int clearOnsets = 0;
        for (int shiftMs = -30; shiftMs <= 30; ++shiftMs) {
            double rise = 0;
            for (const int step : kicks) {
                const double at = leadIn + step * stepSeconds + shiftMs / 1000.0;
                const double before = energy(samples, at - 0.012, 0.012);
                const double after = energy(samples, at, 0.012);
                rise += after - before;
                if (shiftMs == 0 && after > 1.5 * before) ++clearOnsets;
            }
            if (rise > bestRise) bestRise = rise, bestShift = shiftMs;
        }
        EXPECT_LE(std::abs(bestShift), 3) << path << ": kicks sound " << bestShift << " ms from where the manifest says";
        EXPECT_GE(clearOnsets, static_cast<int>(kicks.size() * 3 / 4)) << path << ": kicks drowned in the mix";
    }
}
