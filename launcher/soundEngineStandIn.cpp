// A silent stand-in for the parts of the sound engine the launcher calls, until the sound
// engine itself is merged. Delete this file then.
#include "platform/soundEngine.h"

Tsounds::Tsounds() = default;

Tstream::Tstream() = default;
Tstream::~Tstream() = default;

TstreamHandle* Tstream::open(const std::string&) {
    return nullptr;
}

void Tstream::play() {}

void Tstream::setLooping(bool value) {
    loopingFlag = value;
}
