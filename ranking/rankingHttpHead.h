// Checks on a request's head, once read, before its body is: field count and size, and one way of
// telling the body's length.
#pragma once

// Boost 1.74's asio uses std::exchange without including its header.
#include <utility>

#include <boost/beast/http.hpp>

#include "ranking/rankingTransportLimits.h"

using TrankingHttpRequest = boost::beast::http::request<boost::beast::http::string_body>;

// The status to refuse the head with (400 or 431), or 0 when its fields and framing are sound.
// Two ways of telling the length that disagree would let a proxy and the server see different requests.
int requestHeadRefusal(const TrankingHttpRequest& head, size_t headBytes, const TtransportLimits& limits);
