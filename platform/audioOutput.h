// Where the mixed sound goes: the audio device, or a silent output clocked like a perfect card.
#pragma once

#include <memory>

#include "platform/audioEngine.h"

class TaudioMixer;

// Frames the output takes from the mixer at a time (about 11.6 ms).
constexpr int outputBlockFrames = 512;

// A running output that takes blocks from the mixer until it is destroyed.
class TaudioOutput {
public:
    virtual ~TaudioOutput() = default;
    virtual bool isSilent() const = 0;
    virtual ToutputReport report() const = 0;
};

// The audio device; the silent output when TRELLIK_AUDIO=silent or when no device opens (then
// with one line on standard error). The mixer must outlive the output.
std::unique_ptr<TaudioOutput> openAudioOutput(TaudioMixer& mixer);

// A thread that takes a block at absolute deadlines of the monotonic clock, at exactly the
// output rate, and discards it.
std::unique_ptr<TaudioOutput> openSilentOutput(TaudioMixer& mixer);

// The report of the silent clocked output: no latency.
ToutputReport silentClockReport();
