// The calibration scene in a real window with taps sent through the X server: taps placed 25 ms
// after each click the game plays come out as an audio offset of 25 ms.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "engine/trellikGL38Engine.h"
#include "platform/clockSeam.h"
#include "platform/soundEngine.h"
#include "tests/support/fontFixture.h"
#include "tests/support/testSupport.h"

namespace {

constexpr double tapDelayMs = 25.0;

// Sends a key press and release through the X server at given times, from a thread and an X
// connection of its own, as a player's keyboard would.
class TscheduledTapper {
public:
    explicit TscheduledTapper(const char* keysym) : display(XOpenDisplay(nullptr)) {
        if (display) keycode = XKeysymToKeycode(display, XStringToKeysym(keysym));
        worker = std::thread([this] { run(); });
    }
    ~TscheduledTapper() {
        {
            const std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        changed.notify_all();
        worker.join();
        if (display) XCloseDisplay(display);
    }
    void tapAt(double atMs) {
        {
            const std::lock_guard<std::mutex> guard(lock);
            due.push_back(atMs);
        }
        changed.notify_all();
    }

private:
    void run() {
        std::unique_lock<std::mutex> guard(lock);
        while (!stopping) {
            if (due.empty()) {
                changed.wait(guard);
                continue;
            }
            const double at = due.front();
            due.pop_front();
            guard.unlock();
            while (systemHighResolutionMs() < at) {
            }
            XTestFakeKeyEvent(display, keycode, True, CurrentTime);
            XTestFakeKeyEvent(display, keycode, False, CurrentTime);
            XFlush(display);
            guard.lock();
        }
    }

    Display* display;
    unsigned int keycode = 0;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<double> due;
    bool stopping = false;
    std::thread worker;
};

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

    TscheduledTapper tapper("4");
    size_t clicksSeen = 0;
    game->window = std::make_unique<TopenGLEngine>();
    game->window->setup(320, 240, false, "calibration", "font.fnt");
    game->window->onInitialise = [&] {
        startCalibration(*game);
        game->window->onDraw = [&] {
            const std::vector<double>& clicks = game->calibration.clickTimes;
            for (; clicksSeen < clicks.size(); ++clicksSeen) tapper.tapAt(clicks[clicksSeen] + tapDelayMs);
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
