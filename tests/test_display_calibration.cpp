// The calibration scene in a real window with taps sent through the X server: taps placed 25 ms
// after each click the game plays come out as an audio offset of 25 ms.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>

#include "bench/support/xTestPresser.h"
#include "engine/trellikGL38Engine.h"
#include "platform/clockSeam.h"
#include "platform/sound/soundEngine.h"
#include "tests/support/fontFixture.h"
#include "tests/support/testSupport.h"

namespace {

constexpr double tapDelayMs = 25.0;
constexpr double tapHoldMs = 20.0;

}  // namespace

TEST(CalibrationWithXKeys, TapsTwentyFiveMsAfterEachClickSaveAnAudioOffsetOf25) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    writeFile(folder.file("font.fnt"), sampleFontFileBytes());
    setenv("TRELLIK_AUDIO", "silent", 1);
    Tsounds sounds;
    auto game = std::make_unique<TtrellikGL>();
    game->audio.sounds = &sounds;
    const LaunchParameters parameters = defaultLaunchParameters("test");
    for (int i = 0; i < 16; ++i) game->launch.keys[i] = parameters.keys[i];
    std::optional<int32_t> savedAudio;
    game->launch.saveOffsets = [&](int32_t audio, int32_t) { savedAudio = audio; };

    // Sends each tap through the X server from a thread and an X connection of its own, as a
    // player's keyboard would.
    TxTestPresser tapper;
    ASSERT_TRUE(tapper.ready());
    size_t clicksSeen = 0;
    game->window = std::make_unique<TopenGLEngine>();
    game->window->setup(320, 240, false, "calibration", "font.fnt");
    game->window->onInitialise = [&] {
        startCalibration(*game);
        game->window->onDraw = [&] {
            const std::vector<double>& clicks = game->calibration.clickTimes;
            const auto tapKey = static_cast<uint16_t>(game->launch.keys[0]);
            for (; clicksSeen < clicks.size(); ++clicksSeen)
                tapper.schedulePress(clicks[clicksSeen] + tapDelayMs, tapKey, tapHoldMs);
            if (game->calibration.taps.complete()) {
                game->window->onKeyDown(keyEnter, systemHighResolutionMs());
                return false;
            }
            // Far more clicks than a measurement needs: the taps never arrived.
            return clicks.size() < 3 * (warmUpBeats + tapsWanted) && drawCalibration(*game);
        };
    };
    game->window->run();
    releaseRunHandlers(*game);

    EXPECT_EQ(game->calibration.outcome.verdict, TtapVerdict::ready) << game->calibration.message;
    ASSERT_TRUE(savedAudio.has_value()) << game->calibration.message;
    // The server stamps a key when it gets to it: on a quiet machine within a ms of sending
    // (25 +- 2 is seen there), later when the machine is loaded with parallel tests.
    EXPECT_NEAR(*savedAudio, tapDelayMs, 5.0);
    EXPECT_LT(game->calibration.outcome.figures.medianDeviation, 5.0);
}
