// A game run in a real window on a hand-set clock: a script drives its frames and keys, reads
// back every frame it draws, probes pixels where the projection puts things and saves
// screenshots when TRELLIK_SCREENSHOTS names a folder.
#pragma once

#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/trellikGL38Engine.h"
#include "platform/SVATimerCode.h"
#include "platform/clockSeam.h"
#include "tests/test_title_gameFolder.h"

class TgameWindowTest : public ::testing::Test {
protected:
    static constexpr int windowSize = 600;

    TtemporaryFolder folder;
    TworkingDirectory inFolder{folder.path()};
    TmanualClock clock;
    std::unique_ptr<TtrellikGL> game = std::make_unique<TtrellikGL>();
    std::vector<unsigned char> frameRgb;

    void SetUp() override {
        clock.ms = 300000;
        installClock(&clock);
        writeStockFiles(folder.path());
        const LaunchParameters parameters = defaultLaunchParameters("");
        game->scale = parameters.scale;
        game->yOffset = yOffsetFor(parameters.scale, parameters.yAdjust);
        for (int i = 0; i < 16; ++i) game->launch.keys[i] = parameters.keys[i];
        game->window = std::make_unique<TopenGLEngine>();
        game->window->setup(windowSize, windowSize, false, "title and menus", "font.fnt");
    }

    void TearDown() override {
        delete game->wheelTimer;
        delete game->playTick;
        game->wheelTimer = game->playTick = nullptr;
        installClock(nullptr);
    }

    // Runs the game from its loading scene; script runs with the window open and drives it.
    void runGame(const std::function<void()>& script) {
        installKeyDownHandler(*game, escapeEndsRun);
        installDrawHandler(*game, loadingScene.draw);
        game->window->onInitialise = [&script] {
            script();
            requestQuit();
        };
        game->window->run();
    }

    // One pass of the loop: the installed draw handler, the frame read back, then presented.
    void frame() {
        const TnullArgsFunctionReturningBoolean draw = game->window->onDraw;
        draw();
        readFrame();
        presentFrame();
    }

    bool press(uint16_t key) const {
        const TkeyEvent handler = game->window->onKeyDown;
        return handler(key, activeClock().highResolutionMs());
    }

    void readFrame() {
        frameRgb.assign(3 * windowSize * windowSize, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, windowSize, windowSize, GL_RGB, GL_UNSIGNED_BYTE, frameRgb.data());
    }

    // The colour of the last frame where a point at depth z of the unturned view lands.
    Tcolour pixelAt(double x, double y, double z) const {
        const double focal = 1.0 / std::tan(22.5 * M_PI / 180.0);
        const int column = static_cast<int>(std::floor((x * focal / -z + 1.0) * 0.5 * windowSize));
        const int row = static_cast<int>(std::floor((y * focal / -z + 1.0) * 0.5 * windowSize));
        if (column < 0 || row < 0 || column >= windowSize || row >= windowSize) return {-1, -1, -1};
        const unsigned char* pixel = &frameRgb[3 * (row * windowSize + column)];
        return {pixel[0], pixel[1], pixel[2]};
    }

    // The same for a point laid out at the engine's depth.
    Tcolour pixelAtEngineDepth(double x, double y) const { return pixelAt(x, y, game->depth); }

    // The colour the middle of a console glyph at column and console y (its top edge) gets.
    Tcolour pixelAtConsoleGlyph(int column, double y) const {
        return pixelAt(-40.0 + 1.25 * (column + 0.375), 8.0 + 1.25 * (y - 0.75), -100.0);
    }

    void saveScreenshot(const std::string& name) const {
        const char* shots = std::getenv("TRELLIK_SCREENSHOTS");
        if (!shots || !*shots) return;
        const std::string size = std::to_string(windowSize) + "x" + std::to_string(windowSize);
        const std::string command =
            "convert -size " + size + " -depth 8 rgb:- -flip '" + std::string(shots) + "/" + name + ".png'";
        FILE* pipe = ::popen(command.c_str(), "w");
        if (!pipe) return;
        std::fwrite(frameRgb.data(), 1, frameRgb.size(), pipe);
        ::pclose(pipe);
    }
};

inline bool closeTo(const Tcolour& actual, const Tcolour& expected, int tolerance = 3) {
    for (int i = 0; i < 3; ++i)
        if (std::abs(actual[i] - expected[i]) > tolerance) return false;
    return true;
}

// Built by appending: GCC 12 at -O3 reports a false overlap (-Wrestrict) in "(" + std::string&&.
inline std::string colourText(const Tcolour& colour) {
    std::string text = "(";
    text += std::to_string(colour[0]) + ", ";
    text += std::to_string(colour[1]) + ", ";
    text += std::to_string(colour[2]) + ")";
    return text;
}

#define EXPECT_COLOUR(actual, expected)                                                                        \
    EXPECT_TRUE(closeTo((actual), (expected))) << #actual << " is " << colourText(actual) << ", expected " \
                                               << colourText(expected)
