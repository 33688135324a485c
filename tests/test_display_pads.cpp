// A pad button bound to a panel plays it through the game window's own event loop, and a pad
// pulled out mid-song lets go of its panel and stops nothing.
#include "tests/test_playback_fixture.h"

#include "platform/gamePads.h"
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
    bool lateEventIgnored = false;
    int step = 0;
    int passes = 0;
    game->window->setup(320, 240, false, "pads", "font.fnt");
    game->window->onDraw = [&] {
        if (++passes > mostPasses) return false;
        const bool held = game->play.pressed[panel] != 0;
        switch (step) {
            case 0: pad.press(button, true); break;
            case 1:
                if (!held) return true;
                pressed = true;
                pad.unplug();
                break;
            case 2: {
                if (held) return true;
                released = true;
                // An event of the pad that is gone, still queued when it went, plays nothing.
                SDL_Event late{};
                late.type = SDL_JOYBUTTONDOWN;
                late.jbutton.which = pad.instance();
                late.jbutton.button = button;
                SDL_PushEvent(&late);
                break;
            }
            case 3: lateEventIgnored = !held; break;
            default: tickAt(12000); return false;
        }
        ++step;
        return true;
    };
    game->window->run();

    EXPECT_TRUE(pressed);
    EXPECT_EQ(game->score.counters[perfect], 1);
    EXPECT_TRUE(released);
    EXPECT_TRUE(lateEventIgnored);
    EXPECT_TRUE(stillPlaying());
}
