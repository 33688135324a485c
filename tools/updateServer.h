// The embedded update server: one root folder served read-only over HTTP GET on 127.0.0.1.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

// One request as the server answered it.
struct TservedRequest {
    std::string method;
    std::string path;
    std::string userAgent;
    int status = 0;
};

// The line the server logs for a request: method, path, User-Agent in quotes, status.
std::string requestLogLine(const TservedRequest& request);

// The file a decoded request path names under root, or "" when the path may not be served:
// "." or ".." segments, a NUL, anything that leads outside the root (links included), a
// folder, or nothing at all.
std::string servedFilePath(const std::string& root, const std::string& requestPath);

// A reply that stands in for a path's file; an announcedLength above the body's size makes the
// server announce that length and then cut the reply short (servers that fail halfway).
struct TcannedReply {
    int status = 200;
    std::string body;
    uint64_t announcedLength = 0;
};

class TupdateServer {
public:
    explicit TupdateServer(const std::string& rootFolder);
    ~TupdateServer();
    TupdateServer(const TupdateServer&) = delete;
    TupdateServer& operator=(const TupdateServer&) = delete;

    // Binds 127.0.0.1:port (0 picks a free port) and returns the port; raises
    // std::runtime_error when the port cannot be had or the root is no folder.
    int bind(int port);
    // Answers requests until stop(); connections are accepted from bind on.
    void serve();
    // Ends serve() from any thread, also one that has not begun serving yet.
    void stop();

    // Called once per request, before its reply is sent, on the server's worker threads; set it
    // before serving.
    void setRequestObserver(std::function<void(const TservedRequest&)> observer);
    void setCannedReply(const std::string& path, const TcannedReply& reply);

private:
    void answer(const httplib::Request& request, httplib::Response& response);
    void report(const httplib::Request& request, const httplib::Response& response) const;
    bool answerCanned(const std::string& path, httplib::Response& response);

    std::string root;
    std::unique_ptr<httplib::Server> server;
    std::atomic<int> listeningSocket{-1};
    std::mutex cannedMutex;
    std::map<std::string, TcannedReply> cannedReplies;
    std::function<void(const TservedRequest&)> observer;
};
