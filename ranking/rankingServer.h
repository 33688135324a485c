// The ranking server on HTTP: the service's answers at their addresses, every reply JSON, and the
// network held to limits so that slow or idle clients cannot shut out the others.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "ranking/rankingService.h"
#include "ranking/rankingTransportLimits.h"

class TrankingServer {
public:
    TrankingServer(TrankingStore& store, const TrankingLimits& limits, const TtransportLimits& transport = {});
    ~TrankingServer();
    TrankingServer(const TrankingServer&) = delete;
    TrankingServer& operator=(const TrankingServer&) = delete;

    // Binds address:port (port 0 picks a free one) and returns the port; raises std::runtime_error
    // when it cannot be had. Binding again moves the server to the new address.
    int bind(const std::string& address, int port);
    // Answers requests until stop().
    void serve();
    // Ends serve() from any thread, also one that has not begun serving yet.
    void stop();

    // Connections open now (those turned away at once not counted).
    size_t openConnections() const;
    // Waits until exactly this many connections are open; false when patience ran out first.
    bool awaitOpenConnections(size_t count, std::chrono::milliseconds patience) const;
    // Closes every connection past its deadline now, on the transport's clock, and returns how many;
    // the server also does this a few times a second. Only while serving.
    size_t closeOverdueConnections();

    // The transport's workings, named here so that its connections can reach it.
    class Timpl;

private:
    std::unique_ptr<Timpl> impl;
};
