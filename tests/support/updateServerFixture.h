// An update server running inside the test process on a free loopback port over a root folder.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/updateServer.h"

class TupdateServerFixture {
public:
    explicit TupdateServerFixture(const std::string& rootFolder);
    // Stops the server and waits for it.
    ~TupdateServerFixture();
    TupdateServerFixture(const TupdateServerFixture&) = delete;
    TupdateServerFixture& operator=(const TupdateServerFixture&) = delete;

    // "http://127.0.0.1:PORT/", ending in "/" like updateServerUrl.
    const std::string& baseUrl() const { return url; }
    int port() const { return boundPort; }

    // Every request answered so far, in the order they finished.
    std::vector<TservedRequest> requests() const;
    // Blocks until at least count requests were answered (or a minute passed) and returns them.
    std::vector<TservedRequest> waitForRequests(size_t count) const;

    // Makes the server answer path (relative, "/" between folders) with status and no file.
    void failWith(const std::string& path, int status);
    // Makes it announce announcedLength bytes for path, send only sentBytes and hang up.
    void cutShort(const std::string& path, const std::string& sentBytes, uint64_t announcedLength);

    // Stops the server early; the port then refuses connections.
    void stop();

private:
    TupdateServer server;
    int boundPort = 0;
    std::string url;
    std::thread serving;
    mutable std::mutex requestsMutex;
    mutable std::condition_variable requestAnswered;
    std::vector<TservedRequest> answered;
};
