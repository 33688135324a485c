// The ranking server's addresses: each request's method and path mapped onto the service.
#include "ranking/rankingRoutes.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <vector>

namespace {

std::vector<std::string> pathSegments(const std::string& path) {
    std::vector<std::string> segments;
    size_t start = 1;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        segments.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return segments;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// %XX and '+' decoded; a broken escape is kept as it stands.
std::string queryDecoded(const std::string& text) {
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool escape =
            text[i] == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 && hexDigit(text[i + 2]) >= 0;
        if (escape) {
            decoded += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i] == '+' ? ' ' : text[i];
        }
    }
    return decoded;
}

// The first value of a query parameter, decoded; "" when it is absent.
std::string queryValue(const std::string& query, const std::string& name) {
    size_t start = 0;
    while (start <= query.size()) {
        const size_t end = std::min(query.find('&', start), query.size());
        const std::string pair = query.substr(start, end - start);
        const size_t equals = pair.find('=');
        if (queryDecoded(pair.substr(0, equals)) == name)
            return equals == std::string::npos ? "" : queryDecoded(pair.substr(equals + 1));
        start = end + 1;
    }
    return "";
}

bool startsWithIgnoringCase(const std::string& text, const std::string& start) {
    if (text.size() < start.size()) return false;
    for (size_t i = 0; i < start.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != start[i]) return false;
    return true;
}

// The target as a path with its query: an absolute target ("http://host/path?query", as a proxy may
// send) without its scheme and host; any other target as it stands.
std::string originFormOf(const std::string& target) {
    for (const std::string scheme : {"http://", "https://"}) {
        if (!startsWithIgnoringCase(target, scheme)) continue;
        const size_t pathStart = target.find_first_of("/?", scheme.size());
        if (pathStart == std::string::npos) return "/";
        return target[pathStart] == '/' ? target.substr(pathStart) : "/" + target.substr(pathStart);
    }
    return target;
}

bool nonEmpty(const std::vector<std::string>& segments) {
    for (const std::string& segment : segments)
        if (segment.empty()) return false;
    return true;
}

TrankingReply refusal(int status, const char* code, const char* message) {
    return {status, nlohmann::json{{"error", code}, {"message", message}}.dump(), 0};
}

}  // namespace

TrankingReply transportRefusal(int status) {
    switch (status) {
        case 404: return refusal(404, "not_found", "There is nothing at this address.");
        case 405: return refusal(405, "method_not_allowed", "This address does not take that method.");
        case 408: return refusal(408, "request_timeout", "The request did not arrive in time.");
        case 413: return refusal(413, "body_too_large", "The request body is too large.");
        case 431: return refusal(431, "headers_too_large", "The request's header fields are too many or too large.");
        case 503:
            return refusal(503, "busy", "The server has too many connections or bodies in flight; try again later.");
        default: return refusal(400, "bad_request", "The request could not be read.");
    }
}

TrankingAddress rankingAddressOf(const std::string& method, const std::string& requestTarget) {
    const std::string target = originFormOf(requestTarget);
    const size_t question = target.find('?');
    const std::string path = target.substr(0, question);
    TrankingAddress address;
    if (path.rfind("/v1/", 0) != 0) return address;
    const std::vector<std::string> at = pathSegments(path);
    if (!nonEmpty(at)) return address;
    const auto expecting = [&method, &address](const char* wanted, TrankingEndpoint endpoint) {
        address.endpoint = method == wanted ? endpoint : TrankingEndpoint::wrongMethod;
        return address;
    };
    if (at.size() == 2 && at[1] == "players") return expecting("POST", TrankingEndpoint::registerPlayer);
    if (at.size() == 2 && at[1] == "offsets") return expecting("POST", TrankingEndpoint::registerOffsets);
    if (at.size() == 2 && at[1] == "plays") return expecting("POST", TrankingEndpoint::submitPlay);
    if (at.size() == 3 && at[1] == "charts") {
        address.chartSha256 = at[2];
        return expecting("PUT", TrankingEndpoint::putChart);
    }
    if (at.size() == 5 && at[1] == "charts" && at[4] == "leaderboard") {
        address.chartSha256 = at[2];
        address.difficulty = at[3];
        address.limit = question == std::string::npos ? "" : queryValue(target.substr(question + 1), "limit");
        return expecting("GET", TrankingEndpoint::leaderboard);
    }
    if (at.size() == 3 && at[1] == "players") {
        address.playerId = at[2];
        return expecting("GET", TrankingEndpoint::playerPlays);
    }
    return address;
}

TrankingReply routeRankingRequest(TrankingService& service, const TrankingRequest& request) {
    const TrankingAddress address = rankingAddressOf(request.method, request.target);
    switch (address.endpoint) {
        case TrankingEndpoint::registerPlayer: return service.registerPlayer(request.body, request.peerAddress);
        case TrankingEndpoint::registerOffsets: return service.registerOffsets(request.authorization, request.body);
        case TrankingEndpoint::submitPlay: return service.submitPlay(request.authorization, request.body);
        case TrankingEndpoint::putChart:
            return service.putChart(request.authorization, address.chartSha256, request.body);
        case TrankingEndpoint::leaderboard:
            return service.leaderboard(address.chartSha256, address.difficulty, address.limit);
        case TrankingEndpoint::playerPlays: return service.playerPlays(address.playerId);
        case TrankingEndpoint::wrongMethod: return transportRefusal(405);
        case TrankingEndpoint::notFound: break;
    }
    return transportRefusal(404);
}
