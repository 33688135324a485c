// Pad buttons as key codes, driven by SDL's virtual joysticks.
#include <gtest/gtest.h>

#include <SDL.h>

#include <memory>
#include <set>
#include <vector>

#include "content/keyNamesCode.h"
#include "platform/input/gamePads.h"
#include "tests/support/virtualPad.h"

namespace {

// Pad keys in the order they came, each with whether it went down.
using Keys = std::vector<std::pair<uint16_t, bool>>;

class GamePads : public ::testing::Test {
protected:
    // Every key the pads give for the events SDL has now.
    Keys keys() {
        SDL_PumpEvents();
        Keys seen;
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            TpadKeyEvent key;
            if (pads.keyFromEvent(event, key)) seen.emplace_back(key.key, key.down);
        }
        return seen;
    }

    TgamePads pads;
};

}  // namespace

TEST_F(GamePads, ButtonsOfPadsPresentAndPluggedInLaterComeOutAsTheirKeys) {
    TvirtualPad first;
    ASSERT_TRUE(first.plugged()) << SDL_GetError();
    ASSERT_TRUE(pads.open());
    EXPECT_EQ(pads.openCount(), 1);
    TvirtualPad second;
    keys();  // the second pad's arrival
    EXPECT_EQ(pads.openCount(), 2);

    second.press(11, true);
    first.press(0, true);
    EXPECT_EQ(keys(), (Keys{{padButtonKey(1, 11), true}, {padButtonKey(0, 0), true}}));
    second.press(11, false);
    EXPECT_EQ(keys(), (Keys{{padButtonKey(1, 11), false}}));
}

TEST_F(GamePads, APadPulledOutIsClosedAndItsNumberGoesToTheNextOne) {
    ASSERT_TRUE(pads.open());
    auto pulled = std::make_unique<TvirtualPad>();
    keys();
    pulled->press(3, true);
    EXPECT_EQ(keys(), (Keys{{padButtonKey(0, 3), true}}));
    const SDL_JoystickID gone = pulled->instance();
    pulled->unplug();
    EXPECT_EQ(keys(), (Keys{{padButtonKey(0, 3), false}}));  // a held button lets go: no panel stays down
    EXPECT_EQ(pads.openCount(), 0);
    pulled.reset();

    // An event of the pad that is gone, still queued when it went, is no key.
    SDL_Event late{};
    late.type = SDL_JOYBUTTONDOWN;
    late.jbutton.which = gone;
    late.jbutton.button = 3;
    TpadKeyEvent key;
    EXPECT_FALSE(pads.keyFromEvent(late, key));

    TvirtualPad next;
    keys();
    next.press(2, true);
    EXPECT_EQ(keys(), (Keys{{padButtonKey(0, 2), true}}));
}

TEST(PadKeys, CodesSplitBackAndNeverMeetKeyboardCodes) {
    std::set<uint16_t> codes;
    for (int pad = 0; pad < maxPads; ++pad) {
        for (int button = 0; button < buttonsPerPad; ++button) {
            const uint16_t code = padButtonKey(pad, button);
            ASSERT_TRUE(isPadKey(code));
            ASSERT_EQ(padButtonOf(code).pad, pad);
            ASSERT_EQ(padButtonOf(code).button, button);
            codes.insert(code);
        }
    }
    EXPECT_EQ(codes.size(), size_t{maxPads * buttonsPerPad});
    for (int code = 0; code <= 0xFF; ++code) EXPECT_FALSE(isPadKey(code)) << code;
    EXPECT_FALSE(isPadKey(padButtonKey(maxPads - 1, buttonsPerPad - 1) + 1));
}

TEST(PadKeys, LabelsCountPadsAndButtonsFromOne) {
    EXPECT_EQ(keyLabel(padButtonKey(0, 11)), "Pad 1 B12");
    EXPECT_EQ(keyLabel(padButtonKey(31, 127)), "Pad 32 B128");
    EXPECT_EQ(keyLabel('R'), "R");
}
