// Where the mixed sound goes: the audio device, or a silent output clocked like a perfect card.
#pragma once

#include <memory>
#include <string>

#include "platform/sound/audioEngine.h"

class TaudioMixer;
class TplaybackTimer;

// Frames the output takes from the mixer at a time (about 11.6 ms).
constexpr int outputBlockFrames = 512;

// A running output that takes blocks from the mixer until it is destroyed.
class TaudioOutput {
public:
    virtual ~TaudioOutput() = default;
    virtual bool isSilent() const = 0;
    virtual ToutputReport report() const = 0;
    // The frame it plays by its own pace, where it keeps one (the silent output does).
    virtual TplaybackTimer* paceTimer() { return nullptr; }
};

// The sound server's stream, else the SDL audio device, else the silent output (then with one
// line on standard error). TRELLIK_AUDIO=silent, pulse or sdl forces one (a forced one that
// fails gives the silent output). The mixer must outlive the output.
std::unique_ptr<TaudioOutput> openAudioOutput(TaudioMixer& mixer);

// A thread that takes a block at absolute deadlines of the monotonic clock, at exactly the
// output rate, and discards it.
std::unique_ptr<TaudioOutput> openSilentOutput(TaudioMixer& mixer);

// Real-time scheduling for the calling thread where the system grants it, else it keeps its
// priority: an output's thread renders the music (the stretcher too) against the device's deadline.
void askForPunctualScheduling();

// The report of the silent clocked output: no latency.
ToutputReport silentClockReport();

// The SDL audio device, or null with the reason in failure.
std::unique_ptr<TaudioOutput> openDeviceOutput(TaudioMixer& mixer, std::string& failure);
