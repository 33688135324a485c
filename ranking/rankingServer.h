// The ranking server on HTTP: the service's answers at their addresses, every reply JSON.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "ranking/rankingService.h"

namespace httplib {
class Server;
}

class TrankingServer {
public:
    TrankingServer(TrankingStore& store, const TrankingLimits& limits);
    ~TrankingServer();
    TrankingServer(const TrankingServer&) = delete;
    TrankingServer& operator=(const TrankingServer&) = delete;

    // Binds address:port (port 0 picks a free one) and returns the port; raises std::runtime_error
    // when it cannot be had.
    int bind(const std::string& address, int port);
    // Answers requests until stop().
    void serve();
    // Ends serve() from any thread, also one that has not begun serving yet.
    void stop();

private:
    TrankingService service;
    std::unique_ptr<httplib::Server> server;
    std::atomic<int> listeningSocket{-1};
};
