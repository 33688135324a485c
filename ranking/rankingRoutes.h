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
};

TrankingReply routeRankingRequest(TrankingService& service, const TrankingRequest& request);

// A refusal the transport makes itself, before the service sees the request: 400, 404, 405, 408,
// 413, 431 or 503, as JSON like the service's own refusals.
TrankingReply transportRefusal(int status);
