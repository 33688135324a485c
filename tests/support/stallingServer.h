// Loopback servers that misbehave on purpose: one that never lets a connection complete, and one
// that answers a piece at a time and may then fall silent with the connection still open.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What the trickling server sends to its one client once it has read the request.
struct TtrickleScript {
    std::vector<std::string> pieces;  // sent in order, gapMs apart
    uint32_t gapMs = 0;
    bool fallsSilent = true;  // after the last piece it keeps the connection open and says nothing
};

class TtricklingServer {
public:
    explicit TtricklingServer(TtrickleScript script);
    // Releases a silent connection and waits for the server's thread.
    ~TtricklingServer();
    TtricklingServer(const TtricklingServer&) = delete;
    TtricklingServer& operator=(const TtricklingServer&) = delete;

    // "http://127.0.0.1:PORT/" + path.
    std::string url(const std::string& path) const;

private:
    void serveOneClient();
    // Waits up to milliseconds, less when the server is being released; false once it is.
    bool pause(uint32_t milliseconds);

    TtrickleScript script;
    int listening = -1;
    int port = 0;
    std::mutex releaseMutex;
    std::condition_variable releaseSignal;
    bool released = false;
    std::thread serving;
};

// A loopback port that listens with its queue already full and never accepts: a connection
// attempt to it gets no answer at all, as to a host that has gone away.
class TunansweredPort {
public:
    TunansweredPort();
    ~TunansweredPort();
    TunansweredPort(const TunansweredPort&) = delete;
    TunansweredPort& operator=(const TunansweredPort&) = delete;

    std::string url(const std::string& path) const;

private:
    int listening = -1;
    int filler = -1;
    int port = 0;
};

// A loopback server that answers each request with the raw reply scripted for its path (the
// whole of it, status line, header and body, byte for byte) and then hangs up; 404 for others.
class TscriptedServer {
public:
    // Keys are request paths without the leading "/".
    explicit TscriptedServer(std::map<std::string, std::string> replies);
    ~TscriptedServer();
    TscriptedServer(const TscriptedServer&) = delete;
    TscriptedServer& operator=(const TscriptedServer&) = delete;

    // "http://127.0.0.1:PORT/", ending in "/" like updateServerUrl.
    std::string baseUrl() const;

private:
    void serveClients();

    std::map<std::string, std::string> replies;
    int listening = -1;
    int port = 0;
    std::thread serving;
};

// The start of a successful reply that announces contentLength bytes of body.
std::string replyHeaderFor(uint64_t contentLength);
