// The sound engine on a real sound server (the private one test.sh starts), and the choice of
// output when the server is missing.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/sound/audioEngine.h"
#include "platform/sound/audioMixer.h"
#include "platform/sound/audioOutput.h"
#include "platform/clockSeam.h"
#include "platform/store/pathResolver.h"
#include "platform/sound/soundEngine.h"
#include "tests/support/childProcess.h"
#include "tests/support/testSupport.h"
#include "tests/test_sound_fixtures.h"

namespace {

// Waits while the server plays; reaching the bound means playback is broken.
bool waitForPlayback(const std::function<bool()>& done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The server's own figure for our stream: its buffer plus the sink's latency, in ms; -1 when
// the server lists no stream of ours.
double serverReportedLatencyMs() {
    FILE* listing = popen("pactl list sink-inputs 2>/dev/null", "r");
    if (!listing) return -1.0;
    double ours = -1.0;
    double inputUs = 0.0;
    char line[512];
    while (std::fgets(line, sizeof line, listing)) {
        double value = 0.0;
        if (std::strncmp(line, "Sink Input #", 12) == 0) inputUs = 0.0;
        if (std::sscanf(line, " Buffer Latency: %lf usec", &value) == 1 ||
            std::sscanf(line, " Sink Latency: %lf usec", &value) == 1)
            inputUs += value;
        if (std::strstr(line, "application.name = \"Trellik\"")) ours = inputUs / 1000.0;
    }
    pclose(listing);
    return ours;
}

// Sound-server output fails at once, not silently, where the server is missing.
class SoundServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_NE(std::getenv("PULSE_SERVER"), nullptr)
            << "PULSE_SERVER is not set: start the private sound server (scripts/sound-server.sh) first";
        setenv("TRELLIK_AUDIO", "pulse", 1);
        static Tsounds sounds;
    }

    TtemporaryFolder folder;
};

}  // namespace

TEST_F(SoundServerTest, TheEngineOpensTheServerOutputAndReportsItsLatency) {
    const ToutputReport report = programOutputReport();
    ASSERT_FALSE(report.silent) << report.line;
    EXPECT_EQ(report.line.rfind("Sound: PulseAudio server, latency ", 0), 0u) << report.line;
    EXPECT_FALSE(report.estimated);
    EXPECT_GT(report.latencyMs, 0.0);
    // The two are read at different moments, and a server that just started still settles its
    // sink's latency: they must come to agree, not agree at the first look.
    double ours = report.latencyMs;
    double server = serverReportedLatencyMs();
    const bool agreed = waitForPlayback([&] {
        ours = programOutputReport().latencyMs;
        server = serverReportedLatencyMs();
        return ours > 0.0 && std::abs(ours - server) <= 5.0;
    });
    EXPECT_TRUE(agreed) << "ours " << ours << " ms, the server's own figure for the stream " << server << " ms";
}

TEST_F(SoundServerTest, ASongPlaysToItsEndAndItsPositionNeverStepsBack) {
    writeMp3File(folder.file("song.mp3"), clickTrack(3 * audioRate, audioRate, 2), audioRate, 2, 128);
    Tstream song;
    ASSERT_NE(song.open(folder.file("song.mp3")), nullptr);
    song.play();
    int32_t previous = 0;
    int32_t stepsBack = 0;
    ASSERT_TRUE(waitForPlayback([&] {
        const int32_t position = song.positionMS();
        if (position < previous) ++stepsBack;
        previous = std::max(previous, position);
        return song.isFinished();
    }));
    EXPECT_EQ(stepsBack, 0);
    EXPECT_EQ(previous, song.lengthMS());
}

// The latency the output reports from the moment it opened (when the loading log reads it) until
// it has taken 30 blocks (the launcher reads it any time), on a stream asked for requestedMs.
std::vector<double> latenciesShown(const char* requestedMs) {
    constexpr size_t blocks = 30;
    setenv("PULSE_LATENCY_MSEC", requestedMs, 1);
    setenv("TRELLIK_AUDIO", "pulse", 1);
    TaudioMixer mixer{false};
    mixer.startBlockLog(blocks);
    const std::unique_ptr<TaudioOutput> output = openAudioOutput(mixer);
    unsetenv("PULSE_LATENCY_MSEC");
    std::vector<double> shown;
    size_t blocksSeen = 0;
    waitForPlayback([&] {
        const size_t taken = mixer.loggedBlockCount();
        if (!shown.empty() && taken == blocksSeen) return false;
        blocksSeen = taken;
        const ToutputReport report = output->report();
        shown.push_back(report.silent ? -1.0 : report.latencyMs);
        return taken >= blocks;
    });
    return shown;
}

TEST(ServerLatency, TheFigureShownIsTheSteadyLatencyFromTheMomentTheOutputOpens) {
    const std::vector<double> asked80 = latenciesShown("80");
    EXPECT_GE(*std::min_element(asked80.begin(), asked80.end()), 60.0) << "read " << asked80.size() << " times";
    const std::vector<double> asked10 = latenciesShown("10");
    EXPECT_GE(*std::min_element(asked10.begin(), asked10.end()), 5.0);
    EXPECT_LE(*std::max_element(asked10.begin(), asked10.end()), 30.0);
}

TEST(OutputChoice, AMissingServerFallsBackWithOneMessage) {
    const std::string server = std::getenv("PULSE_SERVER") ? std::getenv("PULSE_SERVER") : "";
    TtemporaryFolder folder;
    setenv("PULSE_SERVER", ("unix:" + folder.file("no-such-socket")).c_str(), 1);
    for (const char* requested : {"", "pulse"}) {
        setenv("TRELLIK_AUDIO", requested, 1);
        TaudioMixer mixer{false};
        testing::internal::CaptureStderr();
        std::unique_ptr<TaudioOutput> output = openAudioOutput(mixer);
        const std::string said = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(output) << requested;
        const std::string line = output->report().line;
        size_t messages = 0;
        for (size_t at = said.find("Sound:"); at != std::string::npos; at = said.find("Sound:", at + 1)) ++messages;
        if (output->isSilent()) {
            EXPECT_EQ(line, "Sound: silent clock");
            EXPECT_EQ(messages, 1u) << said;
        } else {
            EXPECT_NE(requested, std::string("pulse")) << "a forced server output never falls back to SDL";
            EXPECT_EQ(line.rfind("Sound: SDL ", 0), 0u) << line;
            EXPECT_EQ(messages, 0u) << said;
        }
    }
    setenv("PULSE_SERVER", server.c_str(), 1);
}

// A server of the test's own, so that it can be killed while a song plays on it.
TEST(ServerLoss, TheSongGoesOnOnTheSilentClockAndEndsWhenItsMusicEnds) {
    TtemporaryFolder folder;
    const std::string socket = folder.file("native");
    std::ofstream(folder.file("server.pa")) << "load-module module-null-sink sink_name=lost\n"
                                               "set-default-sink lost\n"
                                               "load-module module-native-protocol-unix auth-anonymous=1 socket="
                                            << socket << "\n";
    mkdir(folder.file("runtime").c_str(), 0700);
    TchildProcess server("/usr/bin/pulseaudio",
                         {"--daemonize=no", "--use-pid-file=no", "--system=no", "--exit-idle-time=-1", "-n", "-F",
                          folder.file("server.pa"), "--log-target=stderr"},
                         folder.path(),
                         {"HOME=" + folder.path(), "PULSE_RUNTIME_PATH=" + folder.file("runtime"),
                          "PULSE_STATE_PATH=" + folder.file("runtime")},
                         folder.file("server.log"));
    // The socket appears before the server takes connections: wait until a client gets through.
    const std::string probe = "pactl --server=unix:" + socket + " info >/dev/null 2>&1";
    ASSERT_TRUE(waitForPlayback([&] { return std::system(probe.c_str()) == 0; })) << "the test's server did not start";

    const std::string previousServer = std::getenv("PULSE_SERVER") ? std::getenv("PULSE_SERVER") : "";
    setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    setenv("TRELLIK_AUDIO", "pulse", 1);
    TaudioMixer mixer{true};
    std::unique_ptr<TaudioOutput> output = openAudioOutput(mixer);
    setenv("PULSE_SERVER", previousServer.c_str(), 1);
    ASSERT_FALSE(output->isSilent()) << output->report().line;

    const std::shared_ptr<TstreamHandle> song = mixer.openStream(clickTrackMp3(4 * audioRate));
    ASSERT_NE(song, nullptr);
    mixer.play(song);
    const auto position = [&] { return mixer.positionFrames(song, systemHighResolutionMs()); };
    ASSERT_TRUE(waitForPlayback([&] { return position() > audioRate; }));

    testing::internal::CaptureStderr();
    server.signal(SIGKILL);
    server.wait();
    ASSERT_TRUE(waitForPlayback([&] { return output->isSilent(); })) << "the loss of the server went unnoticed";
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("Sound: the sound server went away"), std::string::npos) << said;
    EXPECT_EQ(output->report().line, "Sound: silent clock");

    int64_t previous = 0;
    int32_t stepsBack = 0;
    ASSERT_TRUE(waitForPlayback([&] {
        const int64_t now = position();
        if (now < previous) ++stepsBack;
        previous = std::max(previous, now);
        return now >= mixer.lengthFrames(song);
    })) << "the song stopped at frame " << previous;
    EXPECT_EQ(stepsBack, 0);
}

namespace {

// Threads of this process running at real-time priority.
int realTimeThreads() {
    int found = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        const pid_t thread = static_cast<pid_t>(std::stol(task.path().filename().string()));
        if (sched_getscheduler(thread) == SCHED_FIFO) ++found;
    }
    return found;
}

// Whether this process may give a thread real-time priority (root, or a real-time limit).
bool realTimeAllowed() {
    bool allowed = false;
    std::thread probe([&allowed] {
        sched_param parameters{};
        parameters.sched_priority = sched_get_priority_min(SCHED_FIFO) + 2;
        allowed = pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters) == 0;
    });
    probe.join();
    return allowed;
}

}  // namespace

// The server's thread renders the music, the stretcher's work included, against the server's
// deadline: at an ordinary priority a busy machine made it miss that and the server ran dry.
TEST(ServerOutput, BlocksAreRenderedOnARealTimeThreadWhereTheSystemAllowsIt) {
    if (!realTimeAllowed()) GTEST_SKIP() << "this process may not use real-time priority";
    // Outputs of earlier tests may still run on threads of their own.
    const int before = realTimeThreads();
    setenv("TRELLIK_AUDIO", "pulse", 1);
    TaudioMixer mixer{false};
    mixer.startBlockLog(4);
    const std::unique_ptr<TaudioOutput> output = openAudioOutput(mixer);
    ASSERT_FALSE(output->isSilent());
    ASSERT_TRUE(waitForPlayback([&] { return mixer.loggedBlockCount() >= 2; }));
    EXPECT_EQ(realTimeThreads(), before + 1);
}
