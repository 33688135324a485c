// A request head's limits and framing.
#include "ranking/rankingHttpHead.h"

namespace http = boost::beast::http;

int requestHeadRefusal(const TrankingHttpRequest& head, size_t headBytes, const TtransportLimits& limits) {
    if (headBytes > limits.maxHeaderBytes) return 431;
    size_t fields = 0, lengths = 0, encodings = 0;
    for (const auto& field : head) {
        ++fields;
        if (field.name() == http::field::content_length) ++lengths;
        if (field.name() == http::field::transfer_encoding) ++encodings;
    }
    if (fields > limits.maxHeaderFields) return 431;
    if (lengths > 1 || (lengths == 1 && encodings > 0)) return 400;
    if (lengths == 1 && head[http::field::content_length].find(',') != boost::beast::string_view::npos) return 400;
    if (encodings > 1 || (encodings == 1 && !boost::beast::iequals(head[http::field::transfer_encoding], "chunked")))
        return 400;
    return 0;
}
