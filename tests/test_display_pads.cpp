// A pad button bound to a panel plays it through the game window's own event loop, and a pad
// pulled out mid-song lets go of its panel and stops nothing.
#include "tests/test_playback_fixture.h"

#include "platform/input/gamePads.h"
#include "tests/support/fontFixture.h"
#include "tests/support/testSupport.h"
#include "tests/support/virtualPad.h"

namespace {

// Key index 1 lies on panel 4; it is bound to the pad's seventh button.
constexpr int keyIndex = 1;
constexpr int panel = 4;
constexpr int button = 6;
// Passes of the window loop after which a step that never came counts as failed.
constexpr int mostPasses = 5000;

}  // namespace

TEST_F(TplaybackTest, ABoundPadButtonPlaysItsPanelAndPullingThePadOutMidSongStopsNothing) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    writeFile(folder.file("font.fnt"), sampleFontFileBytes());
    TvirtualPad pad;
    ASSERT_TRUE(pad.plugged()) << SDL_GetError();
    game->launch.keys[keyIndex] = padButtonKey(0, button);
    addRow(10.0, {keyIndex});
    addRow(20.0, {keyIndex});
    startPlaying();
    tickAt(9450);
    const double perfectTime = game->play.perfectTime[panel];
    for (double t = clock.highResolution + 1; t < perfectTime; t += 1) frameAt(t);
    clock.highResolution = perfectTime;

    bool pressed = false;
    bool released = false;
    int passes = 0;
    game->window->setup(320, 240, false, "pads", "font.fnt");
    game->window->onDraw = [&] {
        const bool held = game->play.pressed[panel] != 0;
        if (++passes == 1) pad.press(button, true);
        if (held && !pressed) {
            pressed = true;
            pad.unplug();
        }
        released = pressed && !held;
        if (released) tickAt(12000);
        return !released && passes < mostPasses;
    };
    game->window->run();

    EXPECT_TRUE(pressed);
    EXPECT_EQ(game->score.counters[perfect], 1);
    EXPECT_TRUE(released);
    EXPECT_TRUE(stillPlaying());
}
