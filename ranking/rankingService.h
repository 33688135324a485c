// The ranking server's answers, free of HTTP: each request's parts in, a status and JSON body out.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ranking/rankingFairGate.h"
#include "ranking/rankingPlayKeeper.h"
#include "ranking/rankingStore.h"

struct TsongParser;

// What the server accepts; each limit is the largest value let through.
struct TrankingLimits {
    size_t maxBodyBytes = 1024 * 1024;
    size_t maxChartBytes = 512 * 1024;
    // A play may hold this many presses for each marker of its chart.
    int32_t pressesPerMarker = 4;
    // Requests that carry a token, per token in each minute.
    int32_t requestsPerMinute = 120;
    int32_t leaderboardMaxLimit = 100;
    // Players registered from one address in each hour.
    int32_t registrationsPerHour = 10;
    // Offsets a player may register that the server did not know for them, in each day.
    int32_t newOffsetsPerDay = 3;
    // A rejected play keeps this many of its presses at most: enough to see what was wrong.
    size_t rejectedPressesKept = 256;
    // Requests worked on at once; a connection waiting on its client holds no worker.
    size_t workerThreads = 64;
    // Plays read and judged at once, in the order they came; 0 means one per core.
    size_t judgingThreads = 0;
    // Plays kept in one transaction at most.
    size_t largestBatch = 64;
    // A leaderboard page is answered from memory this long (ms); a play this process keeps on the
    // board renews it at once, one kept by another process sharing the database within this time.
    double leaderboardCacheMs = 1000.0;
};

struct TrankingReply {
    int status = 200;
    std::string body;
    // Seconds to wait before asking again, for 429; 0 sends no Retry-After.
    int64_t retryAfterSeconds = 0;
};

// Counts each caller's requests (a token's, an address's) in a window that starts with its first
// request, on the clock seam's steady high-resolution clock. Windows that ended are let go.
class TrequestBudget {
public:
    TrequestBudget(int32_t perWindow, double windowMs) : perWindow_(perWindow), windowMs_(windowMs) {}
    // 0 when the request may go ahead, else the whole seconds until the caller's window is over.
    int64_t secondsToWait(const std::string& caller);
    // Callers whose window has not ended (or not been let go yet).
    size_t windowsHeld();

private:
    struct Twindow {
        double startMs = 0.0;
        int32_t count = 0;
    };
    void letGoOfEndedWindows(double now);

    const int32_t perWindow_;
    const double windowMs_;
    std::mutex mutex_;
    std::map<std::string, Twindow> windows_;
    double lastSweepMs_ = 0.0;
};

class TrankingService {
public:
    TrankingService(TrankingStore& store, const TrankingLimits& limits);
    ~TrankingService();

    const TrankingLimits& limits() const { return limits_; }
    // address: where the request came from, whose registrations are counted.
    TrankingReply registerPlayer(const std::string& body, const std::string& address);
    // {"audio_offset", "visual_offset"}: offsets the player's plays are judged with from now on.
    TrankingReply registerOffsets(const std::string& authorization, const std::string& body);
    size_t tokenWindowsHeld() { return budget_.windowsHeld(); }
    TrankingReply submitPlay(const std::string& authorization, const std::string& body);
    TrankingReply putChart(const std::string& authorization, const std::string& sha256, const std::string& body);
    TrankingReply leaderboard(const std::string& sha256, const std::string& difficulty, const std::string& limit);
    TrankingReply playerPlays(const std::string& playerId);

private:
    struct Tcaller {
        int64_t playerId = 0;
        TrankingReply refusal;
    };
    // The player of a "Bearer TOKEN" header within their request budget, or the reply refusing them.
    Tcaller admit(const std::string& authorization);
    std::shared_ptr<const TsongParser> chartFor(const std::string& sha256);
    // The difficulty a chart is ranked under, remembered once known: it never changes.
    std::optional<int32_t> chartDifficulty(const std::string& sha256);
    int64_t playerWithToken(const std::string& tokenSha256);
    // The play to keep, judged, or the reply refusing it before judging.
    TrankingReply judge(const std::string& body, int64_t playerId, TrankedPlay& play);
    TrankingReply keep(TrankedPlay& play);
    bool offsetsKnown(int64_t playerId, int32_t audioOffset, int32_t visualOffset);
    TrankingReply leaderboardPage(const std::string& sha256, int32_t difficulty, int32_t limit);
    // Forgets the pages of a board that a new verified play changed.
    void boardChanged(const std::string& sha256, int32_t difficulty);

    TrankingStore& store_;
    const TrankingLimits limits_;
    TrequestBudget budget_;
    TrequestBudget registrations_;
    TrequestBudget newOffsets_;
    TfairGate judging_;
    TplayKeeper keeper_;
    // Players by their token's SHA-256, once looked up: a token never changes hands.
    std::mutex playersMutex_;
    std::map<std::string, int64_t> playersByToken_;
    struct TcachedPage {
        TrankingReply reply;
        double madeAtMs = 0.0;
    };
    // Pages by "sha256/difficulty/limit".
    std::mutex pagesMutex_;
    std::map<std::string, TcachedPage> pages_;
    // Counts changed boards, so that a page read before a change is not kept after it.
    uint64_t pagesGeneration_ = 0;
    std::mutex chartsMutex_;
    std::map<std::string, std::shared_ptr<const TsongParser>> charts_;
    std::map<std::string, int32_t> difficulties_;
};

// 256 random bits from the kernel as 64 hex digits.
std::string newPlayerToken();
// The presses packed as the store keeps them: a panel byte and the music ms as a little-endian double.
std::string packPresses(const std::vector<TjudgePress>& presses);
// A play's key among the plays of its player and chart: the SHA-256 of its presses packed, each
// music ms rounded to 0.1 ms, so that nudging a press by a sliver makes no new play.
std::string pressesKey(const std::vector<TjudgePress>& presses);
