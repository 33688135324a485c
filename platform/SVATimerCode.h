// A periodic millisecond timer whose handler runs on the main thread between frames.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class TSVATimer;

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

using TNotifyEvent = std::function<void(TSVATimer& sender)>;

class TSVATimerThread;

// Ticks every Interval ms while Enabled; each tick runs OnTimer on the main thread, handed over
// through the window's message queue, and the timer waits until it has run.
class TSVATimer {
public:
    TSVATimer();
    ~TSVATimer();
    TSVATimer(const TSVATimer&) = delete;
    TSVATimer& operator=(const TSVATimer&) = delete;

    TNotifyEvent OnTimer;

    bool Enabled() const;
    void setEnabled(bool value);
    uint32_t Interval() const;
    void setInterval(uint32_t value);
    TThreadPriority ThreadPriority() const;
    void setThreadPriority(TThreadPriority value);

    // When the tick now running OnTimer was due, on the high-resolution clock (ms).
    double tickDueMs() const { return currentTickDueMs; }
    // When the worker handed that tick over (same clock): its own lateness, before the queue's.
    double tickPostedMs() const { return currentTickPostedMs; }
    // How many schedules were started so far: each enabling and each interval change starts one.
    uint64_t armCount() const;

private:
    friend class TSVATimerThread;
    // Main thread: runs OnTimer for a tick that was due at dueMs, if the timer still wants it.
    void deliverTick(double dueMs, double postedMs);

    std::unique_ptr<TSVATimerThread> worker;
    bool enabled = false;
    double currentTickDueMs = 0.0;
    double currentTickPostedMs = 0.0;
};
