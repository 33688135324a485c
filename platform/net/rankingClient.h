// The game's side of the ranking server: its requests over HTTP(S) and the reading of its replies.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// One reply as it came, or why none came (failure set, status 0).
struct ThttpReply {
    int status = 0;
    std::string body;
    // Seconds the server asked to wait before asking again (Retry-After), or 0.
    int64_t retryAfterSeconds = 0;
    std::string failure;
};

// How long one request may take: connecting, and in all. Bounded so that a server that went away
// never holds up a queue or the end of the game for long.
struct TrankingTimeouts {
    int32_t connectMs = 5000;
    int32_t totalMs = 20000;
};

// Requests to one ranking server. The base URL ("http://host:port" or "https://host/prefix")
// gets "/v1/..." added. A request in flight gives up as soon as cancel (when given) turns true.
class TrankingClient {
public:
    explicit TrankingClient(std::string baseUrl, const std::atomic<bool>* cancel = nullptr,
                            TrankingTimeouts timeouts = {});

    ThttpReply registerPlayer(const std::string& name) const;
    ThttpReply submitPlay(const std::string& token, const std::string& body) const;
    ThttpReply putChart(const std::string& token, const std::string& sha256, const std::string& bytes) const;
    ThttpReply registerOffsets(const std::string& token, int32_t audioOffset, int32_t visualOffset) const;
    ThttpReply leaderboard(const std::string& sha256, int32_t difficulty, int32_t limit) const;

private:
    ThttpReply send(const std::string& method, const std::string& path, const std::string& token,
                    const std::string& body, const char* contentType) const;

    std::string base;
    const std::atomic<bool>* cancel;
    TrankingTimeouts timeouts;
};

// What a reply means for the play or request that got it.
enum class TrankingOutcome {
    // The server judged the play and ranks it.
    verified,
    // The server judged the play and refused to rank it (reason says why).
    rejected,
    // The server asks for the chart file before the play.
    needChart,
    // The token is not (or no longer) known: register again.
    badToken,
    // The name is someone else's.
    nameTaken,
    // The request will never be taken as it is (malformed, too large, a chart the server refuses).
    refused,
    // Nothing came, or the server is busy or failing: ask again later.
    retryLater,
};

// The reading of one reply: its outcome and the fields the game uses.
struct TrankingAnswer {
    TrankingOutcome outcome = TrankingOutcome::retryLater;
    // Why, in words: the server's reason or message, or what went wrong on the way.
    std::string message;
    int64_t retryAfterSeconds = 0;
    // A judged play.
    int32_t score = 0;
    int64_t serverPlayId = 0;
    // A registration.
    int64_t playerId = 0;
    std::string token;
};

// Replies are bytes from the network: anything that is not the JSON expected reads as retryLater
// (a 5xx or an unreadable 2xx) or refused (any other 4xx), never as a success.
TrankingAnswer readPlayReply(const ThttpReply& reply);
TrankingAnswer readRegisterReply(const ThttpReply& reply);
// A chart upload or an offsets registration: verified stands for "the server has it now".
TrankingAnswer readChartReply(const ThttpReply& reply);

// One line of a chart's leaderboard: a player's best verified score and its place.
struct TleaderboardEntry {
    int32_t rank = 0;
    int64_t playerId = 0;
    std::string name;
    int32_t score = 0;
};

// A chart's leaderboard as read from the server; read is false when the reply was not one.
struct TleaderboardReply {
    bool read = false;
    // Players with a verified play on the chart; entries are the best of them, best first.
    int64_t players = 0;
    std::vector<TleaderboardEntry> entries;
};

TleaderboardReply readLeaderboardReply(const ThttpReply& reply);

// "RANK 3 OF 41" for the player's line of the leaderboard, "RANK 101+ OF 412" when they are past
// the entries it holds.
std::string rankLine(const TleaderboardReply& board, int64_t playerId);
