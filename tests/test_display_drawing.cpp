// Quads, jackets and console text drawn into real frames under Xvfb and probed pixel by pixel.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <GL/glu.h>

#include <array>
#include <cmath>
#include <functional>
#include <string>

#include "platform/window/glCustomCommandsCode.h"
#include "platform/window/globalConsoleCode.h"
#include "platform/window/openGLClass.h"
#include "tests/support/fontFixture.h"
#include "tests/support/pixelProbe.h"
#include "tests/support/testSupport.h"

namespace {


constexpr float depth = -7.0f;

// A 400 x 400 window in a folder holding the sample font, so its console starts.
struct TdrawingWindow {
    TtemporaryFolder folder;
    TworkingDirectory inFolder{folder.path()};
    TopenGLEngine window;

    TdrawingWindow() {
        writeFile(folder.file("font.fnt"), sampleFontFileBytes());
        window.setup(400, 400, false, "drawing test", "font.fnt");
    }
    ~TdrawingWindow() { window.setCameraRotation(0); }

    // Runs the window for one frame in which check draws and probes.
    void inOneFrame(const std::function<void()>& check) {
        window.onDraw = [&check] {
            check();
            return false;
        };
        window.run();
    }
};

GLuint whiteTexture() {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    const unsigned char white[4] = {255, 255, 255, 255};
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);
    return name;
}

Tpixel pixelAt(double x, double y, double z) {
    return pixelAtView(x, y, z);
}

void clearToBlack() {
    glClearColor(0, 0, 0, 0);
    clearScreen(TglCustomCommands{});
}

// Where console point (x, y) of the first line lies in the view, turned by degrees.
std::array<double, 3> consolePoint(double x, double y, double degrees) {
    const double viewX = -40 + 1.25 * x;
    const double viewY = 8 + 1.25 * y;
    const double angle = degrees * M_PI / 180;
    return {viewX * std::cos(angle) - viewY * std::sin(angle), viewX * std::sin(angle) + viewY * std::cos(angle), -100};
}

Tpixel pixelAtConsole(double x, double y, double degrees) {
    const auto point = consolePoint(x, y, degrees);
    return pixelAt(point[0], point[1], point[2]);
}

void expectNear(const Tpixel& actual, const Tpixel& expected, const std::string& what) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(actual[i], expected[i], 2) << what << " component " << i;
}

const Tpixel black = {0, 0, 0};
const Tpixel white = {255, 255, 255};

}  // namespace

TEST(DrawingFrame, ColourOf255DrawsLikeOneAndAlphaZeroDrawsNothing) {
    TdrawingWindow test;
    const TglCustomCommands commands;
    test.inOneFrame([&] {
        const GLuint texture = whiteTexture();
        clearToBlack();
        drawTexturedQuad(commands, texture, 0, 0, depth, 2, 2, 255, 0, 255, 255);
        const Tpixel saturated = pixelAt(0, 0, depth);
        clearToBlack();
        drawTexturedQuad(commands, texture, 0, 0, depth, 2, 2, 1.0L, 0, 1.0L, 1.0L);
        expectNear(pixelAt(0, 0, depth), saturated, "colour 1.0");
        expectNear(saturated, {255, 0, 255}, "colour 255");
        clearToBlack();
        drawTexturedQuad(commands, texture, 0, 0, depth, 2, 2, 0.5L, 0.5L, 0.5L, 1.0L);
        expectNear(pixelAt(0, 0, depth), {128, 128, 128}, "colour 0.5");
        clearToBlack();
        drawTexturedQuad(commands, texture, 0, 0, depth, 2, 2, 255, 255, 255, 0);
        expectNear(pixelAt(0, 0, depth), black, "alpha 0");
    });
}

TEST(DrawingFrame, CameraRotationTurnsQuadsAboutTheScreenCentre) {
    TdrawingWindow test;
    const TglCustomCommands commands;
    test.window.setCameraRotation(90);
    test.inOneFrame([&] {
        const GLuint texture = whiteTexture();
        clearToBlack();
        drawTexturedQuad(commands, texture, 2, 0, depth, 1, 1, 255, 255, 255, 255);
        expectNear(pixelAt(0, 2, depth), white, "turned position");
        expectNear(pixelAt(2, 0, depth), black, "unturned position");
    });
}

TEST(DrawingFrame, JacketFrameTakesTheSelectedColourAndTheOverlayItsAlpha) {
    TdrawingWindow test;
    TglCustomCommands commands;
    test.inOneFrame([&] {
        const GLuint texture = whiteTexture();
        clearToBlack();
        drawFramedQuad(commands, texture, texture, texture, 0, 2, 0, 0, depth);
        expectNear(pixelAt(0, 0, depth), {255, 0, 0}, "red frame, hidden overlay");
        nextColour(commands);
        clearToBlack();
        drawFramedQuad(commands, texture, texture, texture, 0, 2, 0, 0, depth);
        expectNear(pixelAt(0, 0, depth), {0, 255, 0}, "green frame");
        clearToBlack();
        drawFramedQuad(commands, texture, texture, texture, 255, 2, 0, 0, depth);
        expectNear(pixelAt(0, 0, depth), white, "opaque overlay");
    });
}

TEST(DrawingFrame, NumberDrawsOneQuadPerDigit) {
    TdrawingWindow test;
    const TglCustomCommands commands;
    test.inOneFrame([&] {
        uint32_t digits[10];
        for (uint32_t& digit : digits) digit = whiteTexture();
        clearToBlack();
        drawNumber(commands, 205, digits, digitsCentred, 255, 1.5, 1, 1, 0, 0, depth);
        for (const double x : {-1.5, 0.0, 1.5})
            expectNear(pixelAt(x, 0, depth), white, "digit at " + std::to_string(x));
        expectNear(pixelAt(-0.75, 0, depth), black, "gap between digits");
        expectNear(pixelAt(3.0, 0, depth), black, "no fourth digit");
    });
}

TEST(ConsoleFrame, LinesAreDrawnPaleBlueInTheirOwnFontTexture) {
    TdrawingWindow test;
    test.inOneFrame([&] {
        TglConsole& console = test.window.console;
        EXPECT_NE(console.fontTexture, 0u);
        EXPECT_TRUE(glIsTexture(console.fontTexture));
        writeLine(console, "AAAA");
        writeLine(console, "B");
        bool callbackDrew = false;
        const uint64_t presentedBefore = presentedFrameCount();
        drawFrame(console, true, [&] { callbackDrew = true; });
        EXPECT_TRUE(callbackDrew);
        EXPECT_EQ(presentedFrameCount(), presentedBefore);
        expectNear(pixelAtConsole(3.5, -0.75, 0), {128, 128, 204}, "fourth glyph of line 0");
        expectNear(pixelAtConsole(0.5, -1.75 - 0.75, 0), {128, 128, 204}, "first glyph of line 1");
        expectNear(pixelAtConsole(1.5, -1.75 - 0.75, 0), black, "after the end of line 1");
        consoleDrawFrame(nullptr);
        EXPECT_EQ(presentedFrameCount(), presentedBefore + 1);
    });
}

TEST(ConsoleFrame, TurnedConsoleTextRunsUpward) {
    TdrawingWindow test;
    test.window.setCameraRotation(90);
    test.inOneFrame([&] {
        TglConsole& console = test.window.console;
        writeLine(console, "AAAA");
        drawFrame(console, true, nullptr);
        expectNear(pixelAtConsole(0.5, -0.75, 90), {128, 128, 204}, "first glyph");
        expectNear(pixelAtConsole(3.5, -0.75, 90), {128, 128, 204}, "fourth glyph");
        expectNear(pixelAtConsole(3.5, -0.75, 0), black, "where the unturned glyph would be");
        EXPECT_GT(consolePoint(3.5, -0.75, 90)[1], consolePoint(0.5, -0.75, 90)[1]);
    });
}
