// Key events stamped with the time the X server saw them, mapped onto the high-resolution clock.
#pragma once

#include <memory>

union SDL_Event;

// While it lives, SDL's key events from the X server carry the moment of the key press (the
// server's stamp, taken when the key went down) instead of waiting for the loop to get to them:
// the stamp goes into the event's spare keysym field (see eventStamps.h), where the window's
// dispatch reads it. Mouse buttons get the server's moment of the click the same way (see
// serverStampMark). Does nothing on other video drivers, or when TRELLIK_PRESS_TIME=dispatch.
class TxKeyTimes {
public:
    TxKeyTimes();
    ~TxKeyTimes();
    TxKeyTimes(const TxKeyTimes&) = delete;
    TxKeyTimes& operator=(const TxKeyTimes&) = delete;

    // Whether key events are being stamped.
    bool active() const;
    // True once, the first time a press had to go without a stamp because the mapping of the
    // server's clock was unsure (not yet measured, or jumped); the caller says so in the log.
    bool takeFallbackReport();

    struct Tstate;

private:
    std::unique_ptr<Tstate> state;
};

// The line the log gets when a press had to be timed when it was handled.
extern const char* const keyTimeFallbackLine;
