// The transfer limits in force, shared by every thread that fetches from the update server.
#include "platform/net/transferLimits.h"

#include <atomic>

namespace {

// Read by the window thread and the update thread alike; only tests ever change them.
std::atomic<uint32_t> connectMs{standardTransferLimits.connectMs};
std::atomic<uint32_t> silenceMs{standardTransferLimits.silenceMs};

void putInForce(const TtransferLimits& limits) {
    connectMs = limits.connectMs;
    silenceMs = limits.silenceMs;
}

}  // namespace

TtransferLimits transferLimits() {
    return {connectMs, silenceMs};
}

TtransferLimitsOverride::TtransferLimitsOverride(const TtransferLimits& limits) : earlier(transferLimits()) {
    putInForce(limits);
}

TtransferLimitsOverride::~TtransferLimitsOverride() {
    putInForce(earlier);
}
