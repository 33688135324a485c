// The ready and play scenes drawn into real frames under Xvfb: each probe works out from the
// projection where a thing must land on screen and reads that pixel back.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <GL/glu.h>

#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/trellikGL38Engine.h"
#include "platform/clockSeam.h"
#include "tests/support/fontFixture.h"
#include "tests/support/pixelProbe.h"
#include "tests/support/testSupport.h"

namespace {


const Tpixel black = {0, 0, 0};
const Tpixel topShutterColour = {255, 0, 0};
const Tpixel bottomShutterColour = {0, 255, 0};
const Tpixel markerColour = {255, 255, 0};
const Tpixel comboLabelColour = {255, 128, 0};
const Tpixel coverColour = {0, 128, 255};
// A white start-here marker under its pale blue tint.
const Tpixel startHereColour = {204, 204, 255};
const Tpixel fullGaugeColour = {186, 145, 20};

Tpixel digitColour(int digit) {
    return {40 + 20 * digit, 255, 235 - 20 * digit};
}

uint32_t solidTexture(const Tpixel& colour, uint8_t alpha = 255) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    const unsigned char texel[4] = {static_cast<unsigned char>(colour[0]), static_cast<unsigned char>(colour[1]),
                                    static_cast<unsigned char>(colour[2]), alpha};
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
    return name;
}

// A white ring one texel wide round a clear 2 x 2 middle, like a jacket border.
uint32_t ringTexture() {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    unsigned char texels[4 * 4 * 4];
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column) {
            const bool middle = row > 0 && row < 3 && column > 0 && column < 3;
            unsigned char* texel = texels + 4 * (row * 4 + column);
            texel[0] = texel[1] = texel[2] = 255;
            texel[3] = middle ? 0 : 255;
        }
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 4, 4, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels);
    return name;
}

// Where a point of the play field lands on screen, with the screen turned by degrees.
std::array<int, 2> windowPointOf(double x, double y, double z, int degrees) {
    const double angle = degrees * M_PI / 180.0;
    const double turnedX = x * std::cos(angle) - y * std::sin(angle);
    const double turnedY = x * std::sin(angle) + y * std::cos(angle);
    return windowPointOfView(turnedX, turnedY, z);
}

bool near(const Tpixel& actual, const Tpixel& expected) {
    for (int i = 0; i < 3; ++i)
        if (std::abs(actual[i] - expected[i]) > 2) return false;
    return true;
}

// The clear colours of the gauge as the frame buffer holds them.
Tpixel clearColourPixel(double red, double green, double blue) {
    return {static_cast<int>(std::lround(red * 255)), static_cast<int>(std::lround(green * 255)),
            static_cast<int>(std::lround(blue * 255))};
}

class TplayfieldFrame : public ::testing::Test {
protected:
    TtemporaryFolder folder;
    TworkingDirectory inFolder{folder.path()};
    TmanualClock clock;
    std::unique_ptr<TtrellikGL> game = std::make_unique<TtrellikGL>();
    int rotation = 0;

    void SetUp() override {
        clock.ms = 100000;
        clock.highResolution = 500000.0;
        installClock(&clock);
        writeFile(folder.file("font.fnt"), sampleFontFileBytes());
        placeField(0.703, 4.0);
        game->readyStart = clock.ms;
        game->play.tempo = 120.0;
        game->score.reset(16);
    }

    void TearDown() override { installClock(nullptr); }

    // Scale and vertical adjustment as the launcher gives them; the panel table follows.
    void placeField(double scale, double yAdjust) {
        game->scale = scale;
        game->depth = depthForScale(scale);
        game->yOffset = yOffsetFor(scale, yAdjust);
        const double pitch = game->layout.pitch;
        for (int panel = 0; panel < 16; ++panel)
            game->panels[panel] = {(panel / 4) * pitch - 1.5 * pitch, 1.5 * pitch - (panel % 4) * pitch + game->yOffset};
    }

    // Opens a 600 x 600 window, gives the game its textures, and runs check inside one frame.
    void inOneFrame(const std::function<void()>& check) {
        game->window = std::make_unique<TopenGLEngine>();
        game->window->setCameraRotation(rotation);
        game->window->setup(600, 600, false, "play field test", "font.fnt");
        game->window->onDraw = [this, &check] {
            makeTextures();
            check();
            return false;
        };
        game->window->run();
        game->window->setCameraRotation(0);
    }

    void makeTextures() {
        TstockTextures& textures = game->textures;
        textures.fade = solidTexture({255, 255, 255});
        textures.topShutter = solidTexture(topShutterColour);
        textures.bottomShutter = solidTexture(bottomShutterColour);
        textures.startHere = solidTexture({255, 255, 255});
        textures.panelHighlight = solidTexture({255, 255, 255});
        textures.comboLabel = solidTexture(comboLabelColour);
        textures.jacketBorder = ringTexture();
        textures.jacketGlow = solidTexture({255, 255, 255}, 0);
        for (int digit = 0; digit < 10; ++digit) textures.digits[digit] = solidTexture(digitColour(digit));
        Tmarker& skin = game->markers.markers[1];
        for (int state = 0; state < markerStateCount; ++state) {
            skin.lastFrame[state] = 0;
            skin.frames[state][0] = solidTexture(markerColour);
        }
        game->markers.loadedCount = game->markers.nameCount = 1;
        game->songs.songs.resize(1);
        game->songs.songs[0].cover = solidTexture(coverColour);
    }

    // The pixel at a play-field point (x, y measured from the grid's centre row, so yOffset is added).
    Tpixel fieldPixel(double x, double y) const {
        return readPixel(windowPointOf(x, y + game->yOffset, game->depth, rotation));
    }

    Tpixel panelPixel(int panel) const {
        return readPixel(windowPointOf(game->panels[panel].x, game->panels[panel].y, game->depth, rotation));
    }

    void drawPlayFrames(int count) {
        for (int i = 0; i < count; ++i) playScene.draw(*game);
    }

    void setGauge(double gauge) { game->score.gauge = gauge; }

    void addRowZeroMarker(int keyIndex) {
        game->chart.entries[0].panels[keyIndex] = 1;
        game->chart.entries[0].bpm = 120.0;
        game->chart.entryCount = 1;
    }
};

#define EXPECT_PIXEL(actual, expected, what)                                                        \
    do {                                                                                            \
        const Tpixel seen = (actual);                                                               \
        EXPECT_TRUE(near(seen, (expected))) << (what) << ": saw " << pixelText(seen) << ", expected " \
                                            << pixelText(expected);                                      \
    } while (0)

}  // namespace

TEST_F(TplayfieldFrame, GridLinesBarsAndMasksAreBlackOverTheOpenField) {
    setGauge(1024.0);
    inOneFrame([&] {
        drawPlayFrames(2);
        const double pitch = game->layout.pitch;
        for (int i = -2; i <= 2; ++i) {
            EXPECT_PIXEL(fieldPixel(i * pitch, 0.35), black, "vertical line " + std::to_string(i));
            EXPECT_PIXEL(fieldPixel(0.35, i * pitch), black, "horizontal line " + std::to_string(i));
            EXPECT_PIXEL(fieldPixel(i * pitch + 0.7 * (i < 2 ? 1 : -1), 0.35), fullGaugeColour,
                         "inside the panels beside line " + std::to_string(i));
        }
        // The open top shutter reaches above the grid, where the bar covers it.
        EXPECT_PIXEL(fieldPixel(0.35, 3.0), black, "bar above the grid");
        EXPECT_PIXEL(fieldPixel(0.35, -2.95), black, "bar below the grid");
        // The masks take no vertical offset.
        EXPECT_PIXEL(readPixel(windowPointOf(3.0, 0.0, game->depth, 0)), black, "right mask");
        EXPECT_PIXEL(readPixel(windowPointOf(-3.0, 0.0, game->depth, 0)), black, "left mask");
    });
}

TEST_F(TplayfieldFrame, ClearColourFollowsTheGaugeFromTheNextFrame) {
    // Far away the field is small and the clear colour shows above the top bar.
    placeField(0.1, 0.0);
    struct Tstep {
        double gauge;
        Tpixel colour;
    };
    const std::vector<Tstep> steps = {
        {0.0, clearColourPixel(0, 0, 0.15)},      {254.0, clearColourPixel(0, 0, 0.15)},
        {255.0, clearColourPixel(0, 0, 0.2)},     {600.0, clearColourPixel(0.1, 0, 0.25)},
        {900.0, clearColourPixel(0.2, 0, 0.35)},  {1024.0, fullGaugeColour},
        {1023.5, fullGaugeColour},  // between 1023 and 1024 the colour stays
    };
    inOneFrame([&] {
        for (const Tstep& step : steps) {
            setGauge(step.gauge);
            drawPlayFrames(2);
            EXPECT_PIXEL(fieldPixel(0.0, 15.0), step.colour, "gauge " + std::to_string(step.gauge));
        }
    });
}

TEST_F(TplayfieldFrame, ShuttersCloseAtAnEmptyGaugeOpenAtAFullOneAndBobBetween) {
    inOneFrame([&] {
        setGauge(0.0);
        drawPlayFrames(1);
        for (int panel = 0; panel < 16; ++panel) {
            const Tpixel expected = panel % 4 < 2 ? topShutterColour : bottomShutterColour;
            EXPECT_PIXEL(panelPixel(panel), expected, "closed, panel " + std::to_string(panel));
        }
        setGauge(1024.0);
        drawPlayFrames(2);
        for (int panel = 0; panel < 16; ++panel)
            EXPECT_PIXEL(panelPixel(panel), fullGaugeColour, "open, panel " + std::to_string(panel));

        // Part full, 1 s into the ready time at 120 beats per minute; many frames let the easing
        // settle. This gauge puts the shutters' edges in the middle of the inner panels.
        setGauge(420.0);
        clock.ms = game->readyStart + 1000;
        drawPlayFrames(60);
        const double bob = std::fabs(std::sin(1000.0 / (20000.0 / 120.0))) / 8.0;
        const int32_t level = game->score.gaugeLevel(nullptr);
        const double edge = shutterOpening(game->layout, level) - game->layout.shutterSize / 2 + bob;
        const Tpixel halfColour = clearColourPixel(0, 0, 0.2);
        EXPECT_PIXEL(fieldPixel(0.35, edge + 0.05), topShutterColour, "just above the top shutter's edge");
        EXPECT_PIXEL(fieldPixel(0.35, edge - 0.05), halfColour, "just below it");
        EXPECT_PIXEL(fieldPixel(0.35, -edge - 0.05), bottomShutterColour, "just below the bottom shutter's edge");
        EXPECT_PIXEL(fieldPixel(0.35, -edge + 0.05), halfColour, "just above it");
    });
}

TEST_F(TplayfieldFrame, MarkerLandsOnThePanelOfItsKeyUnderRotation0) {
    addRowZeroMarker(7);  // row 1, column 3
    inOneFrame([&] {
        activateEntry(*game, 0, 0.0);
        drawPlayFrames(1);
        EXPECT_PIXEL(fieldPixel(2.1, 0.7), markerColour, "the marker's panel");
        for (int panel = 0; panel < 16; ++panel) {
            if (panel == 13) continue;
            EXPECT_FALSE(near(panelPixel(panel), markerColour)) << "panel " << panel;
        }
    });
}

TEST_F(TplayfieldFrame, MarkerAndShuttersTurnWithTheScreenUnderRotation90) {
    addRowZeroMarker(7);
    rotation = 90;
    inOneFrame([&] {
        activateEntry(*game, 0, 0.0);
        drawPlayFrames(1);
        EXPECT_PIXEL(fieldPixel(2.1, 0.7), markerColour, "the marker's panel, turned");
        const std::array<int, 2> turned = windowPointOf(2.1, 0.7 + game->yOffset, game->depth, 90);
        const std::array<int, 2> unturned = windowPointOf(2.1, 0.7 + game->yOffset, game->depth, 0);
        EXPECT_GT(turned[1], 400);  // the right of the grid is now at the top of the screen
        EXPECT_FALSE(near(readPixel(unturned), markerColour)) << "where the marker would be unturned";
        // The closed shutters now meet along a vertical line, the top one on the left.
        const double seam = game->yOffset;
        EXPECT_PIXEL(readPixel(windowPointOf(-seam - 1.0, 0.5, game->depth, 0)), topShutterColour,
                     "left of the seam");
        EXPECT_PIXEL(readPixel(windowPointOf(-seam + 1.0, 0.5, game->depth, 0)), bottomShutterColour,
                     "right of the seam");
    });
}

TEST_F(TplayfieldFrame, StartHereMarkersAndHighlightsInTheReadyScene) {
    addRowZeroMarker(1);  // row 0, column 1: panel 4
    game->play.pressed[9] = 1;
    inOneFrame([&] {
        readyScene.draw(*game);
        EXPECT_PIXEL(panelPixel(4), startHereColour, "start here");
        // The highlight's pale blue at 0.8 over the top shutter.
        const Tpixel highlight = {static_cast<int>(std::lround(0.8 * 102 + 0.2 * 255)),
                                  static_cast<int>(std::lround(0.8 * 102)), static_cast<int>(std::lround(0.8 * 255))};
        EXPECT_PIXEL(panelPixel(9), highlight, "highlight");
        EXPECT_PIXEL(panelPixel(8), topShutterColour, "neither");
    });
}

TEST_F(TplayfieldFrame, PlayShowsStartHereUntilTheFirstRowAndMarkersOverHighlights) {
    addRowZeroMarker(1);
    inOneFrame([&] {
        drawPlayFrames(1);
        EXPECT_PIXEL(panelPixel(4), startHereColour, "start here before the first row is due");
        game->play.firstEntryReached = true;
        game->play.pressed[4] = 1;
        activateEntry(*game, 0, 0.0);
        drawPlayFrames(1);
        EXPECT_PIXEL(panelPixel(4), markerColour, "marker over the highlight");
        game->play.pressed[4] = 0;
        game->play.panelState[4] = idle;
        drawPlayFrames(1);
        EXPECT_PIXEL(panelPixel(4), topShutterColour, "no start-here once the first row is due");
    });
}

TEST_F(TplayfieldFrame, ComboShowsFromTenWithItsLabel) {
    inOneFrame([&] {
        game->score.combo = 9;
        drawPlayFrames(1);
        EXPECT_PIXEL(fieldPixel(0.35, 0.5), topShutterColour, "no combo of 9");
        EXPECT_PIXEL(fieldPixel(0.8, -1.0), bottomShutterColour, "no label at 9");
        game->score.combo = 10;
        drawPlayFrames(1);
        EXPECT_PIXEL(fieldPixel(-0.75, 0.5), digitColour(1), "tens digit");
        EXPECT_PIXEL(fieldPixel(0.75, 0.5), digitColour(0), "units digit");
        EXPECT_PIXEL(fieldPixel(0.8, -1.0), comboLabelColour, "label");
    });
}

TEST_F(TplayfieldFrame, ScoreIsRightAlignedAndTheSelectedJacketSitsAboveTheGrid) {
    inOneFrame([&] {
        drawPlayFrames(1);
        EXPECT_PIXEL(fieldPixel(2.1, 3.5), digitColour(0), "a score of 0");
        EXPECT_PIXEL(fieldPixel(1.65, 3.5), black, "only one digit");
        game->score.score = 315042.0;
        drawPlayFrames(1);
        const int digits[] = {2, 4, 0, 5, 1, 3};
        for (int k = 0; k < 6; ++k)
            EXPECT_PIXEL(fieldPixel(2.1 - 0.45 * k, 3.5), digitColour(digits[k]), "score digit " + std::to_string(k));
        EXPECT_PIXEL(fieldPixel(-1.8, 4.0 - 0.03), coverColour, "jacket image");
        EXPECT_PIXEL(fieldPixel(-1.8, 4.0 + 1.75 / 2 - 0.1), (Tpixel{255, 0, 0}), "jacket border, red difficulty");
    });
}
