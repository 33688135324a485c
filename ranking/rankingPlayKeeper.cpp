// One thread writes the plays the request threads hand over, as many as are waiting at a time.
#include "ranking/rankingPlayKeeper.h"

#include <vector>

TplayKeeper::TplayKeeper(TrankingStore& store, size_t largestBatch)
    : store_(store), largestBatch_(largestBatch == 0 ? 1 : largestBatch), writer_([this] { writeBatches(); }) {}

TplayKeeper::~TplayKeeper() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    arrived_.notify_one();
    writer_.join();
}

TrankedPlayKept TplayKeeper::keep(TrankedPlay play) {
    Tpending pending;
    pending.play = std::move(play);
    std::unique_lock<std::mutex> lock(mutex_);
    waiting_.push_back(&pending);
    arrived_.notify_one();
    written_.wait(lock, [&pending] { return pending.done; });
    if (pending.failure) std::rethrow_exception(pending.failure);
    return std::move(pending.kept);
}

void TplayKeeper::writeBatches() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        arrived_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        if (waiting_.empty()) return;
        std::vector<Tpending*> batch;
        while (!waiting_.empty() && batch.size() < largestBatch_) {
            batch.push_back(waiting_.front());
            waiting_.pop_front();
        }
        lock.unlock();
        std::vector<TrankedPlay> plays;
        for (Tpending* pending : batch) plays.push_back(std::move(pending->play));
        std::vector<TrankedPlayKept> kept;
        std::exception_ptr failure;
        try {
            kept = store_.keepPlays(std::move(plays));
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        for (size_t index = 0; index < batch.size(); ++index) {
            if (failure) batch[index]->failure = failure;
            else batch[index]->kept = std::move(kept[index]);
            batch[index]->done = true;
        }
        written_.notify_all();
    }
}
