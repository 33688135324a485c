// The loading console, the banner fading to black and the logo, drawn into real frames.
#include "tests/test_title_window.h"

namespace {

const Tcolour black = {0, 0, 0};
const Tcolour white = {255, 255, 255};
// The console's pale blue-grey lines.
const Tcolour consoleColour = {128, 128, 204};

// Console heights of the first banner row and of the last console line.
constexpr double firstBannerRowY = 25.25;
constexpr double lastConsoleLineY = -1.75 * 21;

class TtitleWindow : public TgameWindowTest {};

}  // namespace

TEST_F(TtitleWindow, LoadingConsoleShowsTheBannerAboveTheLinesThenFadesToTheLogo) {
    runGame([this] {
        const TnullArgsFunctionReturningBoolean loading = game->window->onDraw;
        loading();
        ASSERT_EQ(game->window->console.lines.back(), "Time Taken: 0 seconds");
        // The console frame as loading left it on screen, drawn again to be read.
        drawFrame(game->window->console, true, [this] { drawBanner(*game); });
        readFrame();
        saveScreenshot("loading-console");
        EXPECT_COLOUR(pixelAtConsoleGlyph(4, firstBannerRowY), white);  // the top of the T
        EXPECT_COLOUR(pixelAtConsoleGlyph(0, firstBannerRowY), black);
        EXPECT_COLOUR(pixelAtConsoleGlyph(0, lastConsoleLineY), consoleColour);

        frame();  // the banner fade starts
        clock.ms += 750;
        frame();
        saveScreenshot("banner-fade-half");
        EXPECT_COLOUR(pixelAtConsoleGlyph(4, firstBannerRowY), (Tcolour{128, 128, 128}));
        clock.ms += 750;
        frame();
        EXPECT_COLOUR(pixelAtConsoleGlyph(4, firstBannerRowY), black);
        clock.ms += 1;
        frame();

        frame();  // the logo fades in over a white screen
        clock.ms += 1500;
        frame();
        clock.ms += 1;
        frame();
        frame();
        saveScreenshot("logo");
        EXPECT_COLOUR(pixelAtEngineDepth(0, 0), stockColour("gfx/bigLogo.tga"));
        EXPECT_COLOUR(pixelAtEngineDepth(1.9, -1.9), stockColour("gfx/bigLogo.tga"));
        EXPECT_COLOUR(pixelAtEngineDepth(2.1, 0), white);
        EXPECT_COLOUR(pixelAtEngineDepth(0, 2.1), white);
    });
}
