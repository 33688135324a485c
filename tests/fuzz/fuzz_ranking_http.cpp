// Fuzz target: any bytes as a request to the ranking server are read by the transport's parser with
// its limits, without faults; a head it lets through gets a verdict, and its target an address whose
// parts are path segments.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ranking/rankingHttpHead.h"
#include "ranking/rankingRoutes.h"

namespace {

namespace http = boost::beast::http;

void checkAddress(const std::string& method, const std::string& target) {
    const TrankingAddress address = rankingAddressOf(method, target);
    for (const std::string* part : {&address.chartSha256, &address.difficulty, &address.playerId})
        if (part->find('/') != std::string::npos) __builtin_trap();
    const bool found = address.endpoint != TrankingEndpoint::notFound;
    // Found only under /v1/, at the start of the target or after an absolute target's host.
    if (found && target.find("/v1/") == std::string::npos) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TtransportLimits limits;
    limits.maxHeaderBytes = 2048;
    limits.maxHeaderFields = 16;
    http::request_parser<http::string_body> parser;
    parser.header_limit(4096);
    parser.body_limit(4096);
    parser.eager(false);
    boost::beast::error_code error;
    const size_t headBytes =
        parser.put(boost::asio::buffer(data, size), error);
    if (error || !parser.is_header_done()) return 0;
    const int refusal = requestHeadRefusal(parser.get(), headBytes, limits);
    if (refusal != 0 && refusal != 400 && refusal != 431) __builtin_trap();
    checkAddress(std::string(parser.get().method_string()), std::string(parser.get().target()));
    return 0;
}
