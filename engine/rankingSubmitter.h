// Sending kept plays to the ranking server: the queue's sender (also run by hand from the tool),
// the background thread the game runs it on, and the lines the results and song select show.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/rankingClient.h"
#include "platform/store/rankingSettings.h"
#include "platform/store/recordsDatabase.h"

// Seconds before a queued play is tried again after its attempt number failed (1 = the first):
// doubling from 15 s, never more than an hour.
int64_t retryDelaySeconds(int32_t attempts);
// The play as the server takes it: its chart, offsets, score and every key-down in time order.
std::string playRequestBody(const TkeptPlay& play, const std::string& clientPlayId);
// 128 random bits as 32 hex digits.
std::string newClientPlayId();

// What one pass over the queue came to.
struct TsendSummary {
    int32_t verified = 0;
    int32_t rejected = 0;
    int32_t refused = 0;
    // Still queued after the pass (tried and failed, or not due).
    int32_t waiting = 0;
    // Why the last attempt that did not go through failed, or "".
    std::string problem;
};

// Sends queued plays of one records database with one client, registering the player first when
// the settings hold no token for the server and name.
class TrankingSender {
public:
    TrankingSender(TrecordsDatabase& records, const TrankingClient& client, TrankingSettings settings,
                   std::string settingsFile);

    // Sends every queued play due at now (dueBy < 0: every queued play), stopping early when the
    // server cannot be reached or the cancel flag turns. now is in seconds since 1970.
    TsendSummary sendQueued(int64_t now, int64_t dueBy, const std::atomic<bool>* cancel = nullptr);
    // The results line for each play sent so far: "RANK 3 OF 41", "NOT RANKED: ...", ...
    const std::map<int64_t, std::string>& lines() const { return playLines; }
    // The charts that got a verified play since the last call.
    std::vector<std::string> takeChangedCharts();

private:
    // Whether the player holds a token now; registers when not.
    bool registered(std::string& problem);
    // Sends one play and keeps what became of it; false when the server could not be reached.
    bool sendOne(TrankingSubmission& submission, int64_t now, TsendSummary& summary);
    TrankingAnswer submit(const TkeptPlay& play, const TrankingSubmission& submission);
    // Registers the play's offsets unless the server knows them (it judges a play only with offsets
    // it was told of before the play), then sends the play.
    TrankingAnswer submitWithOffsets(const TkeptPlay& play, const TrankingSubmission& submission);
    // Uploads the play's chart; verified when the server has it now, refused when the file is gone
    // or no longer the play's chart.
    TrankingAnswer uploadChart(const TkeptPlay& play, const TrankingSubmission& submission);
    void keepJudged(TrankingSubmission& submission, const TkeptPlay& play, const TrankingAnswer& answer,
                    TsendSummary& summary);

    TrecordsDatabase& records;
    const TrankingClient& client;
    TrankingSettings settings;
    std::string settingsFile;
    std::map<int64_t, std::string> playLines;
    std::vector<std::string> changedCharts;
    // Offsets (audio, visual) registered with the token in use during this run.
    std::set<std::pair<int32_t, int32_t>> registeredOffsets;
};

// A chart's best verified score on the server, as song select shows it.
struct TworldBest {
    bool known = false;
    int32_t score = 0;
    std::string name;
};

// The sender on a thread of its own for a game run: wakes when a play is kept, sends queued plays
// (those of earlier runs at once), retries with backoff, and looks up charts' world bests. Ends
// when destroyed; a request in flight is abandoned then, so the game never waits on a server.
class TrankingSubmitter {
public:
    TrankingSubmitter(std::string recordsPath, std::string settingsFile, TrankingSettings settings);
    ~TrankingSubmitter();
    TrankingSubmitter(const TrankingSubmitter&) = delete;
    TrankingSubmitter& operator=(const TrankingSubmitter&) = delete;

    // A play was queued in the records: send it now.
    void playQueued(int64_t playId);
    // What the results say of a queued play; "" for a play never queued in this run.
    std::string lineFor(int64_t playId) const;
    // The world best of a chart as far as known; asks the server when it was never asked (or
    // not for a while after a failure).
    TworldBest worldBest(const std::string& chartSha256, int32_t difficulty);

private:
    // What the server said of one chart's best, or that asking failed.
    struct TbestLookup {
        TworldBest best;
        bool answered = false;
        // Seconds since 1970 of a failed lookup, to ask again later; 0 when none failed.
        int64_t failedAt = 0;
    };

    void run();
    void lookUpBests(const TrankingClient& client);
    void takeOutcomes(TrankingSender& sender);
    void waitForWork(int64_t seconds);

    const std::string recordsPath;
    const std::string settingsFile;
    const TrankingSettings settings;
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex;
    std::condition_variable wake;
    bool woken = false;
    std::map<int64_t, std::string> playLines;
    std::map<std::string, TbestLookup> bests;
    std::vector<std::string> lookups;
    std::thread worker;
};
