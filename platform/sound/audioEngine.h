// The program's one mixer and output, behind Tsounds, Tstream and Tsfx.
#pragma once

#include <cstdint>
#include <string>

class TaudioMixer;

// What the program's output is and how late it plays, for the console, the launcher and benchmarks.
struct ToutputReport {
    std::string line;        // one line for people, e.g. "Sound: PulseAudio server, latency 23 ms"
    double latencyMs = 0.0;  // from handing a frame over to hearing it, once the output runs steady
    bool estimated = false;
    int64_t underruns = 0;
    bool silent = true;
};

// The mixer every stream and effect of the program plays on; created on first use.
TaudioMixer& programMixer();
// Starts the output (the device, or the silent clocked output) unless it runs already.
void startProgramOutput();
// True when the program's output is the silent clocked output (or none was started yet).
bool programOutputIsSilent();
// The running output's report; the silent clock's when none was started yet.
ToutputReport programOutputReport();
