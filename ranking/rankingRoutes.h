// Which of the ranking service's answers a request's method and address ask for, free of any HTTP library.
#pragma once

#include <string>

#include "ranking/rankingService.h"

struct TrankingRequest {
    std::string method;
    // The path with its query, as on the request line.
    std::string target;
    std::string authorization;
    std::string body;
    // The connection's peer: the client, or a proxy in front of the server.
    std::string peerAddress;
};

enum class TrankingEndpoint {
    registerPlayer, registerOffsets, submitPlay, putChart, leaderboard, playerPlays, notFound, wrongMethod
};

// What a request's method and target ask for, with the parts of the target the answer needs.
struct TrankingAddress {
    TrankingEndpoint endpoint = TrankingEndpoint::notFound;
    // Path segments as sent (never empty, never holding '/'), and the decoded limit parameter.
    std::string chartSha256, difficulty, playerId, limit;
};

// The target is a path with its query, or the absolute form of one (scheme and host first).
TrankingAddress rankingAddressOf(const std::string& method, const std::string& requestTarget);
TrankingReply routeRankingRequest(TrankingService& service, const TrankingRequest& request);

// A refusal the transport makes itself, before the service sees the request: 400, 404, 405, 408,
// 413, 431 or 503, as JSON like the service's own refusals.
TrankingReply transportRefusal(int status);
