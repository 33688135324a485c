// The SDL audio device and the silent clocked output, both fed by the mixer.
#include "platform/sound/audioOutput.h"

#include <SDL.h>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <time.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sound/audioMixer.h"
#include "platform/clockSeam.h"
#include "platform/sound/playbackTimer.h"
#include "platform/sound/pulseOutput.h"

namespace {

constexpr int64_t nanosecondsPerSecond = 1000000000;
// Further behind than this (a stopped process, a debugger) the output starts a fresh schedule.
constexpr int64_t catchUpLimitNs = 200000000;

int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * nanosecondsPerSecond + now.tv_nsec;
}

void sleepUntilNs(int64_t deadline) {
    timespec until{};
    until.tv_sec = static_cast<time_t>(deadline / nanosecondsPerSecond);
    until.tv_nsec = static_cast<long>(deadline % nanosecondsPerSecond);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}


class TsilentOutput : public TaudioOutput, public TplaybackTimer {
public:
    explicit TsilentOutput(TaudioMixer& mixer) : mixer(mixer) { thread = std::thread([this] { run(); }); }
    ~TsilentOutput() override {
        stopping.store(true);
        thread.join();
    }
    bool isSilent() const override { return true; }
    ToutputReport report() const override { return silentClockReport(); }
    TplaybackTimer* paceTimer() override { return this; }
    int64_t playingOutputFrame(double nowMs) override {
        std::lock_guard<std::mutex> guard(paceLock);
        return lastBlock.frameAt(nowMs);
    }

private:
    // Block k is due at start + k blocks, computed from the start so that no error accumulates.
    static int64_t blockDueNs(int64_t start, int64_t block) {
        return start + block * outputBlockFrames * nanosecondsPerSecond / audioRate;
    }

    void run() {
        askForPunctualScheduling();
        std::vector<int16_t> block(outputBlockFrames * audioChannels);
        int64_t start = monotonicNs();
        int64_t next = 0;
        while (!stopping.load()) {
            const int64_t due = blockDueNs(start, next);
            sleepUntilNs(due);
            if (monotonicNs() - due > catchUpLimitNs) {
                start = monotonicNs();
                next = 0;
                continue;
            }
            const double takenAt = systemHighResolutionMs();
            const int64_t first = mixer.render(block.data(), outputBlockFrames, takenAt);
            {
                std::lock_guard<std::mutex> guard(paceLock);
                lastBlock = TblockPace{takenAt, first, outputBlockFrames};
            }
            ++next;
        }
    }

    TaudioMixer& mixer;
    std::atomic<bool> stopping{false};
    std::mutex paceLock;
    TblockPace lastBlock;
    std::thread thread;
};

// TRELLIK_AUDIO: "silent", "pulse" or "sdl" force that output; anything else lets the first
// that works play.
std::string requestedOutput() {
    const char* setting = std::getenv("TRELLIK_AUDIO");
    return setting ? setting : "";
}

// Drivers that only pretend to play: their pace is not a sound card's.
bool isPretendDriver(const char* driver) {
    return !driver || std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "disk") == 0;
}

// SDL tells nothing of when a block is heard: the estimate is that a block starts to play when
// the device buffer before it has drained, so the playing frame trails the blocks' pace by it.
class TdeviceOutput : public TaudioOutput, public TplaybackTimer {
public:
    explicit TdeviceOutput(TaudioMixer& mixer) : mixer(mixer) {}
    ~TdeviceOutput() override {
        mixer.setPlaybackTimer(nullptr);
        if (device != 0) SDL_CloseAudioDevice(device);
        if (audioStarted) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    bool isSilent() const override { return false; }
    ToutputReport report() const override {
        ToutputReport report;
        report.silent = false;
        report.estimated = true;
        report.latencyMs = static_cast<double>(bufferedFrames()) * 1000.0 / audioRate;
        report.line = "Sound: SDL " + std::string(SDL_GetCurrentAudioDriver()) + ", latency about " +
                      std::to_string(static_cast<int>(std::lround(report.latencyMs))) + " ms (estimated)";
        return report;
    }

    // Opens and starts the device; on failure says why.
    bool open(std::string& failure) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            failure = SDL_GetError();
            return false;
        }
        audioStarted = true;
        if (isPretendDriver(SDL_GetCurrentAudioDriver())) {
            failure = "only a pretend audio driver is available";
            return false;
        }
        SDL_AudioSpec wanted{};
        wanted.freq = audioRate;
        wanted.format = AUDIO_S16SYS;
        wanted.channels = audioChannels;
        wanted.samples = outputBlockFrames;
        wanted.callback = &TdeviceOutput::fill;
        wanted.userdata = this;
        SDL_AudioSpec obtained{};
        device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
        if (device == 0) {
            failure = SDL_GetError();
            return false;
        }
        obtainedFrames = obtained.samples;
        mixer.setPlaybackTimer(this);
        SDL_PauseAudioDevice(device, 0);
        return true;
    }

    int64_t playingOutputFrame(double nowMs) override {
        TblockPace pace;
        {
            std::lock_guard<std::mutex> guard(paceLock);
            pace = lastBlock;
        }
        return pace.frameAt(nowMs) - bufferedFrames();
    }

private:
    // The device buffer SDL obtained and whatever SDL says it holds queued besides.
    int64_t bufferedFrames() const {
        const int64_t queuedBytes = device != 0 ? SDL_GetQueuedAudioSize(device) : 0;
        return obtainedFrames + queuedBytes / static_cast<int64_t>(sizeof(int16_t) * audioChannels);
    }

    static void fill(void* self, Uint8* stream, int length) {
        auto& output = *static_cast<TdeviceOutput*>(self);
        const size_t frames = static_cast<size_t>(length) / (sizeof(int16_t) * audioChannels);
        const double takenAt = systemHighResolutionMs();
        const int64_t start = output.mixer.render(reinterpret_cast<int16_t*>(stream), frames, takenAt);
        std::lock_guard<std::mutex> guard(output.paceLock);
        output.lastBlock = TblockPace{takenAt, start, static_cast<int64_t>(frames)};
    }

    TaudioMixer& mixer;
    SDL_AudioDeviceID device = 0;
    int64_t obtainedFrames = 0;
    bool audioStarted = false;
    std::mutex paceLock;
    TblockPace lastBlock;
};

}  // namespace

void askForPunctualScheduling() {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    sched_param parameters{};
    parameters.sched_priority = sched_get_priority_min(SCHED_FIFO) + 2;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters);
}

ToutputReport silentClockReport() {
    ToutputReport report;
    report.line = "Sound: silent clock";
    return report;
}

std::unique_ptr<TaudioOutput> openSilentOutput(TaudioMixer& mixer) {
    return std::make_unique<TsilentOutput>(mixer);
}

std::unique_ptr<TaudioOutput> openDeviceOutput(TaudioMixer& mixer, std::string& failure) {
    auto device = std::make_unique<TdeviceOutput>(mixer);
    if (!device->open(failure)) return nullptr;
    return device;
}

// The sound server first: its timing says what is heard; SDL's device can only be estimated.
std::unique_ptr<TaudioOutput> openAudioOutput(TaudioMixer& mixer) {
    const std::string requested = requestedOutput();
    if (requested == "silent") return openSilentOutput(mixer);
    std::string failures;
    const auto tryOutput = [&failures, &mixer](auto open, const char* name) {
        std::string failure;
        std::unique_ptr<TaudioOutput> output = open(mixer, failure);
        if (!output) failures += (failures.empty() ? "" : "; ") + std::string(name) + ": " + failure;
        return output;
    };
    if (requested != "sdl")
        if (auto server = tryOutput(&openPulseOutput, "sound server")) return server;
    if (requested != "pulse")
        if (auto device = tryOutput(&openDeviceOutput, "SDL")) return device;
    std::fprintf(stderr, "Sound: no audio device could be opened (%s); playing on the silent clock.\n",
                 failures.c_str());
    return openSilentOutput(mixer);
}
