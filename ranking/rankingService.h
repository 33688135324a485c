// The ranking server's answers, free of HTTP: each request's parts in, a status and JSON body out.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
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
    // Requests worked on at once; a connection waiting on its client holds no worker.
    size_t workerThreads = 64;
    // Plays read and judged at once, in the order they came; 0 means one per core.
    size_t judgingThreads = 0;
    // Plays kept in one transaction at most.
    size_t largestBatch = 64;
};

struct TrankingReply {
    int status = 200;
    std::string body;
    // Seconds to wait before asking again, for 429; 0 sends no Retry-After.
    int64_t retryAfterSeconds = 0;
};

// Counts each token's requests in a minute that starts with its first request, on the clock seam's
// steady high-resolution clock.
class TrequestBudget {
public:
    explicit TrequestBudget(int32_t perMinute) : perMinute_(perMinute) {}
    // 0 when the request may go ahead, else the whole seconds until the token's minute is over.
    int64_t secondsToWait(const std::string& tokenSha256);

private:
    struct Twindow {
        double startMs = 0.0;
        int32_t count = 0;
    };
    const int32_t perMinute_;
    std::mutex mutex_;
    std::map<std::string, Twindow> windows_;
};

class TrankingService {
public:
    TrankingService(TrankingStore& store, const TrankingLimits& limits);
    ~TrankingService();

    const TrankingLimits& limits() const { return limits_; }
    TrankingReply registerPlayer(const std::string& body);
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
    int64_t playerWithToken(const std::string& tokenSha256);
    // The play to keep, judged, or the reply refusing it before judging.
    TrankingReply judge(const std::string& body, int64_t playerId, TrankedPlay& play);
    TrankingReply keep(TrankedPlay& play);

    TrankingStore& store_;
    const TrankingLimits limits_;
    TrequestBudget budget_;
    TfairGate judging_;
    TplayKeeper keeper_;
    // Players by their token's SHA-256, once looked up: a token never changes hands.
    std::mutex playersMutex_;
    std::map<std::string, int64_t> playersByToken_;
    std::mutex chartsMutex_;
    std::map<std::string, std::shared_ptr<const TsongParser>> charts_;
};

// 256 random bits from the kernel as 64 hex digits.
std::string newPlayerToken();
// The presses packed as the store keeps them: a panel byte and the music ms as a little-endian double.
std::string packPresses(const std::vector<TjudgePress>& presses);
