// Every clock the engine reads, behind one seam that tests replace with exact times.
#pragma once

#include <cstdint>

// A source of the three times the game runs on.
class Tclock {
public:
    virtual ~Tclock() = default;
    // The system millisecond clock (wraps at 2^32), for scenes and fades.
    virtual uint32_t milliseconds() = 0;
    // The high-resolution clock in milliseconds, for judgement.
    virtual double highResolutionMs() = 0;
    // The audible position of the music stream in milliseconds.
    virtual int32_t musicPositionMs() = 0;
    // The length of the music stream as known now, in milliseconds: it shrinks when the stream
    // ends before its index said, and a stream without an index learns it only at its end.
    virtual int32_t musicLengthMs() = 0;
};

// Where the system clock gets the music position and length from; the sound engine installs them.
using TmusicPositionSource = int32_t (*)();
void setMusicPositionSource(TmusicPositionSource source);
void setMusicLengthSource(TmusicPositionSource source);

// The clock in force: the system clock unless a test installed another.
Tclock& activeClock();
// Installs a clock (not owned); nullptr restores the system clock.
void installClock(Tclock* clock);

// Reads of the system clocks themselves, bypassing the seam.
uint32_t systemMilliseconds();
double systemHighResolutionMs();

// A clock whose times are set by hand, for tests.
class TmanualClock : public Tclock {
public:
    uint32_t ms = 0;
    double highResolution = 0.0;
    int32_t musicPosition = 0;
    int32_t musicLength = 0;

    uint32_t milliseconds() override { return ms; }
    double highResolutionMs() override { return highResolution; }
    int32_t musicPositionMs() override { return musicPosition; }
    int32_t musicLengthMs() override { return musicLength; }
    // Moves every clock forward together (the music only when it is running).
    void advance(double millis, bool musicRuns);
};
