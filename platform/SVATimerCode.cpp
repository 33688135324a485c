// The timer's worker thread, sleeping to absolute deadlines, and the hand-over of each tick.
#include "platform/SVATimerCode.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/window/mainThreadCall.h"

namespace {

using steadyClock = std::chrono::steady_clock;

// What a timer's worker and the main thread share. Every posted tick keeps it alive, so a tick
// that runs after its timer was destroyed finds no owner and only lets go of it.
struct TtimerShared {
    std::mutex lock;
    std::condition_variable changed;
    TSVATimer* owner = nullptr;
    bool running = false;
    bool terminated = false;
    uint32_t intervalMs = 1000;
    uint64_t schedule = 0;
    uint64_t armCount = 0;
    bool tickWaiting = false;

    // True while the schedule the worker follows is still the one in force.
    bool follows(uint64_t followed) const { return !terminated && running && schedule == followed; }
};

// One tick on its way to the main thread.
struct TpostedTick {
    std::shared_ptr<TtimerShared> shared;
    uint64_t schedule = 0;
    double dueMs = 0.0;
    double postedMs = 0.0;
};

double toMs(steadyClock::time_point time) {
    return std::chrono::duration<double, std::milli>(time.time_since_epoch()).count();
}

// The next deadline on the schedule's grid still ahead. Periods the main thread took too long
// for are dropped, not made up in a burst, so every tick is one the worker slept to.
steadyClock::time_point nextDue(steadyClock::time_point due, std::chrono::milliseconds period,
                                steadyClock::time_point now) {
    steadyClock::time_point next = due + period;
    if (next <= now) next += ((now - next) / period + 1) * period;
    return next;
}

// Real-time scheduling for the two highest priorities when the system grants it; a refusal
// leaves the thread as it was.
void applyPriority(std::thread& thread, TThreadPriority priority) {
    sched_param parameters{};
    int policy = SCHED_OTHER;
    if (priority == tpIdle) policy = SCHED_IDLE;
    if (priority == tpHighest || priority == tpTimeCritical) {
        policy = SCHED_FIFO;
        parameters.sched_priority = sched_get_priority_min(SCHED_FIFO) + (priority == tpTimeCritical ? 3 : 1);
    }
    pthread_setschedparam(thread.native_handle(), policy, &parameters);
}

}  // namespace

// The worker: follows the armed schedule, posts each tick and waits until the main thread ran it.
class TSVATimerThread {
public:
    explicit TSVATimerThread(TSVATimer& owner) : shared(std::make_shared<TtimerShared>()) {
        shared->owner = &owner;
        thread = std::thread([this] { body(); });
    }

    ~TSVATimerThread() {
        {
            std::lock_guard<std::mutex> guard(shared->lock);
            shared->owner = nullptr;
            shared->terminated = true;
            shared->running = false;
        }
        shared->changed.notify_all();
        thread.join();
    }

    // Starts a fresh schedule whose first tick is one interval from now.
    void arm() {
        {
            std::lock_guard<std::mutex> guard(shared->lock);
            shared->running = true;
            ++shared->schedule;
            ++shared->armCount;
        }
        shared->changed.notify_all();
    }

    void disarm() {
        {
            std::lock_guard<std::mutex> guard(shared->lock);
            shared->running = false;
            ++shared->schedule;
        }
        shared->changed.notify_all();
    }

    uint32_t interval() const {
        std::lock_guard<std::mutex> guard(shared->lock);
        return shared->intervalMs;
    }

    void setInterval(uint32_t value) {
        std::lock_guard<std::mutex> guard(shared->lock);
        shared->intervalMs = value;
    }

    uint64_t armCount() const {
        std::lock_guard<std::mutex> guard(shared->lock);
        return shared->armCount;
    }

    TThreadPriority priority() const { return threadPriority; }

    void setPriority(TThreadPriority value) {
        threadPriority = value;
        applyPriority(thread, value);
    }

    static void runPostedTick(void* context) {
        const std::unique_ptr<TpostedTick> tick(static_cast<TpostedTick*>(context));
        TtimerShared& shared = *tick->shared;
        TSVATimer* owner = nullptr;
        {
            std::lock_guard<std::mutex> guard(shared.lock);
            if (shared.follows(tick->schedule)) owner = shared.owner;
        }
        if (owner) owner->deliverTick(tick->dueMs, tick->postedMs);
        {
            std::lock_guard<std::mutex> guard(shared.lock);
            shared.tickWaiting = false;
        }
        shared.changed.notify_all();
    }

private:
    void body() {
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        std::unique_lock<std::mutex> guard(shared->lock);
        while (!shared->terminated) {
            if (!shared->running || shared->intervalMs == 0) {
                shared->changed.wait(guard);
                continue;
            }
            followSchedule(guard);
        }
    }

    void followSchedule(std::unique_lock<std::mutex>& guard) {
        const uint64_t schedule = shared->schedule;
        const std::chrono::milliseconds period(shared->intervalMs);
        steadyClock::time_point due = steadyClock::now() + period;
        while (shared->follows(schedule)) {
            if (shared->changed.wait_until(guard, due, [&] { return !shared->follows(schedule); })) return;
            handTickOver(guard, schedule, due);
            due = nextDue(due, period, steadyClock::now());
        }
    }

    // Posts the tick and waits, with the lock released, until it ran or the timer is destroyed.
    void handTickOver(std::unique_lock<std::mutex>& guard, uint64_t schedule, steadyClock::time_point due) {
        auto* tick = new TpostedTick{shared, schedule, toMs(due), toMs(steadyClock::now())};
        shared->tickWaiting = true;
        guard.unlock();
        const bool posted = postMainThreadCall(&TSVATimerThread::runPostedTick, tick);
        guard.lock();
        if (!posted) {
            delete tick;
            shared->tickWaiting = false;
            return;
        }
        shared->changed.wait(guard, [&] { return !shared->tickWaiting || shared->terminated; });
    }

    std::shared_ptr<TtimerShared> shared;
    TThreadPriority threadPriority = tpNormal;
    std::thread thread;
};

TSVATimer::TSVATimer() : worker(std::make_unique<TSVATimerThread>(*this)) {}

TSVATimer::~TSVATimer() {
    enabled = false;
    worker.reset();
}

bool TSVATimer::Enabled() const {
    return enabled;
}

void TSVATimer::setEnabled(bool value) {
    if (value == enabled) return;
    enabled = value;
    if (enabled) worker->arm();
    else worker->disarm();
}

uint32_t TSVATimer::Interval() const {
    return worker->interval();
}

void TSVATimer::setInterval(uint32_t value) {
    if (value == worker->interval()) return;
    const bool wasEnabled = enabled;
    setEnabled(false);
    worker->setInterval(value);
    setEnabled(wasEnabled);
}

TThreadPriority TSVATimer::ThreadPriority() const {
    return worker->priority();
}

void TSVATimer::setThreadPriority(TThreadPriority value) {
    worker->setPriority(value);
}

uint64_t TSVATimer::armCount() const {
    return worker->armCount();
}

void TSVATimer::deliverTick(double dueMs, double postedMs) {
    if (!enabled || !OnTimer) return;
    currentTickDueMs = dueMs;
    currentTickPostedMs = postedMs;
    // A copy, so a handler that replaces OnTimer keeps running on intact state.
    const TNotifyEvent handler = OnTimer;
    try {
        handler(*this);
    } catch (...) {
    }
}
