// Keeps judged plays in batches: the plays that arrive while one transaction is being written go
// into the next one, so a busy server commits (and, on PostgreSQL, flushes to disk) once for many.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "ranking/rankingStore.h"

class TplayKeeper {
public:
    TplayKeeper(TrankingStore& store, size_t largestBatch);
    // Keeps the plays still waiting, then ends the writing thread.
    ~TplayKeeper();
    TplayKeeper(const TplayKeeper&) = delete;
    TplayKeeper& operator=(const TplayKeeper&) = delete;

    // Blocks until the play's batch is written; raises the store's failure.
    TrankedPlayKept keep(TrankedPlay play);

private:
    struct Tpending {
        TrankedPlay play;
        TrankedPlayKept kept;
        std::exception_ptr failure;
        bool done = false;
    };
    void writeBatches();

    TrankingStore& store_;
    const size_t largestBatch_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::condition_variable written_;
    std::deque<Tpending*> waiting_;
    bool stopping_ = false;
    std::thread writer_;
};
