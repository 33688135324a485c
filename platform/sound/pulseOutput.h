// A playback stream on the desktop's sound server (PulseAudio, or PipeWire's pulse service).
#pragma once

#include <memory>
#include <string>

#include "platform/sound/audioOutput.h"

// The stream connected and playing, or null with the reason in failure. It never starts a
// server, and gives up on one that does not answer within two seconds.
std::unique_ptr<TaudioOutput> openPulseOutput(TaudioMixer& mixer, std::string& failure);
