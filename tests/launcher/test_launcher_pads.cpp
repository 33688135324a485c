// Pad buttons assigned in the launcher: captured, shown and handed to the game.
#include <gtest/gtest.h>

#include <QTest>

#include <initializer_list>
#include <vector>

#include "content/keyNamesCode.h"
#include "launcher/controlsFormCode.h"
#include "platform/input/gamePads.h"
#include "tests/launcher/launcherTestSupport.h"
#include "tests/support/virtualPad.h"

namespace {

// Presses the pad's button once the capture window is open. A capture that never comes ends
// the window after a while, so a fault fails the test instead of hanging it.
void pressWhenModalOpens(const TvirtualPad& pad, std::initializer_list<int> buttonList) {
    // A copy: the list's own array ends with the caller's statement, before the window opens.
    const std::vector<int> buttons(buttonList);
    whenModalOpens([&pad, buttons](QWidget& modal) {
        for (const int button : buttons) pad.press(button, true);
        QTimer::singleShot(10000, &modal, [&modal] { static_cast<QDialog&>(modal).reject(); });
    });
}

}  // namespace

TEST(KeyCaptureWindow, APadButtonPressClosesItWithThePadKey) {
    TvirtualPad pad;
    ASSERT_TRUE(pad.plugged()) << SDL_GetError();
    TcontrolSetWindow window;
    pressWhenModalOpens(pad, {11, 12});
    ASSERT_TRUE(window.captureKey());
    EXPECT_EQ(window.capturedKey, padButtonKey(0, 11));
    EXPECT_FALSE(window.isVisible());

    // Shown again, it takes the next press, not the button pressed together with the last one.
    pressWhenModalOpens(pad, {4});
    ASSERT_TRUE(window.captureKey());
    EXPECT_EQ(window.capturedKey, padButtonKey(0, 4));
}

TEST(LauncherWindow, APadButtonIsShownAndHandedToTheGameUnchanged) {
    TlauncherSandbox sandbox;
    TvirtualPad pad;
    auto windows = openLauncher();
    TloadingForm& form = windows->loadingForm;
    LaunchParameters started;
    form.gameRunner = [&started](TtrellikGL&, const LaunchParameters& parameters) { started = parameters; };

    pressWhenModalOpens(pad, {11});
    form.getNewKey(3);
    EXPECT_EQ(form.keyButtons[3]->text(), "Pad 1 B12");
    form.startButtonClick();
    EXPECT_EQ(started.keys[3], padButtonKey(0, 11));
}
