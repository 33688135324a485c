// The millisecond timer: schedules, the hand-over to the main thread, and safe destruction.
#include <gtest/gtest.h>

#include <SDL.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/SVATimerCode.h"
#include "platform/window/mainThreadCall.h"

namespace {

// Generous bound for waits on the timer itself; reaching it means the timer is broken.
constexpr Uint32 giveUpAfterMs = 5000;

class TimerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(SDL_Init(SDL_INIT_EVENTS), 0) << SDL_GetError();
        registerMainThreadCalls();
    }

    // Takes the next posted tick off the queue without running it.
    static bool takeTick(SDL_Event& event) {
        const Uint32 start = SDL_GetTicks();
        while (SDL_GetTicks() - start < giveUpAfterMs)
            if (SDL_WaitEventTimeout(&event, 10) == 1) return true;
        return false;
    }

    // Runs posted ticks, as the window loop does, until done() holds.
    static bool runTicksUntil(const std::function<bool()>& done) {
        const Uint32 start = SDL_GetTicks();
        SDL_Event event;
        while (!done()) {
            if (SDL_GetTicks() - start > giveUpAfterMs) return false;
            if (SDL_WaitEventTimeout(&event, 10) == 1) runMainThreadCall(&event);
        }
        return true;
    }

    // Runs whatever is queued now, without waiting for more.
    static void drainQueue() {
        SDL_Event event;
        while (SDL_PollEvent(&event) == 1) runMainThreadCall(&event);
    }

    void TearDown() override { drainQueue(); }
};

// Destroys the timer on another thread and reports whether that returned in time.
bool destroyReturns(std::unique_ptr<TSVATimer> timer) {
    auto destroyed = std::async(std::launch::async, [&timer] { timer.reset(); });
    return destroyed.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
}

bool isWholeMultiple(double value, double step) {
    const double ratio = value / step;
    return ratio >= 0.999 && std::fabs(ratio - std::round(ratio)) < 1e-6;
}

}  // namespace

TEST_F(TimerTest, StartsDisabledWithTheDefaultIntervalAndPriority) {
    TSVATimer timer;
    EXPECT_FALSE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    EXPECT_EQ(timer.ThreadPriority(), tpNormal);
    EXPECT_FALSE(static_cast<bool>(timer.OnTimer));
    EXPECT_EQ(timer.armCount(), 0u);
}

TEST_F(TimerTest, IntervalChangesRearmOnlyWhenEnabledAndDifferent) {
    TSVATimer timer;
    timer.setInterval(1000);
    EXPECT_EQ(timer.armCount(), 0u);
    timer.setInterval(40);
    EXPECT_EQ(timer.Interval(), 40u);
    EXPECT_EQ(timer.armCount(), 0u) << "a disabled timer only stores the interval";
    EXPECT_FALSE(timer.Enabled());

    timer.setEnabled(true);
    EXPECT_EQ(timer.armCount(), 1u);
    timer.setEnabled(true);
    timer.setInterval(40);
    EXPECT_EQ(timer.armCount(), 1u) << "the same value changes nothing";
    timer.setInterval(30);
    EXPECT_EQ(timer.armCount(), 2u);
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 30u);
}

TEST_F(TimerTest, TicksRunOnTheMainThreadOnOneGrid) {
    TSVATimer timer;
    std::vector<double> due;
    std::vector<std::thread::id> threads;
    timer.OnTimer = [&](TSVATimer& sender) {
        EXPECT_EQ(&sender, &timer);
        due.push_back(sender.tickDueMs());
        threads.push_back(std::this_thread::get_id());
    };
    timer.setInterval(2);
    timer.setEnabled(true);
    ASSERT_TRUE(runTicksUntil([&] { return due.size() >= 6; }));
    timer.setEnabled(false);
    for (const std::thread::id thread : threads) EXPECT_EQ(thread, std::this_thread::get_id());
    // Late ticks drop periods but never leave the grid or come twice for one deadline.
    for (size_t i = 1; i < due.size(); ++i)
        EXPECT_TRUE(isWholeMultiple(due[i] - due[i - 1], 2.0)) << due[i] - due[i - 1];
}

TEST_F(TimerTest, DisablingAndEnablingWithinOnePeriodLeavesOneSchedule) {
    TSVATimer timer;
    std::vector<double> due;
    timer.OnTimer = [&](TSVATimer& sender) { due.push_back(sender.tickDueMs()); };
    timer.setInterval(20);
    timer.setEnabled(true);
    timer.setEnabled(false);
    timer.setEnabled(true);
    ASSERT_TRUE(runTicksUntil([&] { return due.size() >= 4; }));
    timer.setEnabled(false);
    for (size_t i = 1; i < due.size(); ++i)
        EXPECT_TRUE(isWholeMultiple(due[i] - due[i - 1], 20.0)) << due[i] - due[i - 1];
}

TEST_F(TimerTest, NoHandlerRunsAfterDisablingEvenForATickOnItsWay) {
    TSVATimer timer;
    int calls = 0;
    timer.OnTimer = [&](TSVATimer&) { ++calls; };
    timer.setInterval(1);
    timer.setEnabled(true);
    SDL_Event tick;
    ASSERT_TRUE(takeTick(tick));
    timer.setEnabled(false);
    EXPECT_TRUE(runMainThreadCall(&tick));
    EXPECT_EQ(calls, 0);

    // Enabling again starts a new schedule; the old tick, had it waited, would not count.
    timer.setEnabled(true);
    ASSERT_TRUE(takeTick(tick));
    timer.setEnabled(false);
    timer.setEnabled(true);
    runMainThreadCall(&tick);
    EXPECT_EQ(calls, 0);
}

TEST_F(TimerTest, DestroyReturnsWhetherEnabledOrDisabled) {
    EXPECT_TRUE(destroyReturns(std::make_unique<TSVATimer>()));
    auto enabled = std::make_unique<TSVATimer>();
    enabled->setInterval(1);
    enabled->setEnabled(true);
    EXPECT_TRUE(destroyReturns(std::move(enabled)));
    auto longPeriod = std::make_unique<TSVATimer>();
    longPeriod->setInterval(3600 * 1000);
    longPeriod->setEnabled(true);
    EXPECT_TRUE(destroyReturns(std::move(longPeriod)));
}

TEST_F(TimerTest, DestroyReleasesATickWaitingForALoopThatDoesNotRun) {
    auto timer = std::make_unique<TSVATimer>();
    int calls = 0;
    timer->OnTimer = [&](TSVATimer&) { ++calls; };
    timer->setInterval(1);
    timer->setEnabled(true);
    SDL_Event tick;
    ASSERT_TRUE(takeTick(tick));
    ASSERT_TRUE(destroyReturns(std::move(timer)));
    // The tick runs after its timer is gone: it finds nothing to call.
    EXPECT_TRUE(runMainThreadCall(&tick));
    EXPECT_EQ(calls, 0);
}

TEST_F(TimerTest, DestroyLeavesAQueuedTickHarmless) {
    auto timer = std::make_unique<TSVATimer>();
    int calls = 0;
    timer->OnTimer = [&](TSVATimer&) { ++calls; };
    timer->setInterval(1);
    timer->setEnabled(true);
    ASSERT_EQ(SDL_WaitEventTimeout(nullptr, static_cast<int>(giveUpAfterMs)), 1);
    ASSERT_TRUE(destroyReturns(std::move(timer)));
    drainQueue();
    EXPECT_EQ(calls, 0);
}

TEST_F(TimerTest, ExceptionsFromTheHandlerAreDroppedAndTheTimerGoesOn) {
    TSVATimer timer;
    int calls = 0;
    timer.OnTimer = [&](TSVATimer&) {
        ++calls;
        throw std::runtime_error("handler failed");
    };
    timer.setInterval(1);
    timer.setEnabled(true);
    EXPECT_TRUE(runTicksUntil([&] { return calls >= 3; }));
}

TEST_F(TimerTest, AHandlerMayDisableOrDestroyItsOwnTimer) {
    TSVATimer timer;
    int calls = 0;
    timer.OnTimer = [&](TSVATimer& sender) {
        ++calls;
        sender.setEnabled(false);
    };
    timer.setInterval(1);
    timer.setEnabled(true);
    ASSERT_TRUE(runTicksUntil([&] { return calls == 1; }));
    EXPECT_FALSE(timer.Enabled());

    auto* owned = new TSVATimer;
    bool destroyed = false;
    owned->OnTimer = [&](TSVATimer& sender) {
        delete &sender;
        destroyed = true;
    };
    owned->setInterval(1);
    owned->setEnabled(true);
    EXPECT_TRUE(runTicksUntil([&] { return destroyed; }));
}

TEST_F(TimerTest, PriorityIsStoredAndTheHighestStillTicks) {
    TSVATimer timer;
    int calls = 0;
    timer.OnTimer = [&](TSVATimer&) { ++calls; };
    timer.setThreadPriority(tpHighest);
    EXPECT_EQ(timer.ThreadPriority(), tpHighest);
    timer.setInterval(1);
    timer.setEnabled(true);
    EXPECT_TRUE(runTicksUntil([&] { return calls >= 3; }));
    timer.setThreadPriority(tpIdle);
    EXPECT_EQ(timer.ThreadPriority(), tpIdle);
    timer.setThreadPriority(tpNormal);
}
