// Misbehaving loopback servers on raw sockets, for transfers that must give up.
#include "tests/support/stallingServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace {

// A loopback socket listening on a free port with the given queue length.
int listenOnLoopback(int queueLength, int& port) {
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (socket < 0 || ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(socket, queueLength) != 0 || ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("The test server cannot listen on the loopback interface.");
    port = ntohs(address.sin_port);
    return socket;
}

std::string loopbackUrl(int port, const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(port) + "/" + path;
}

// Reads until the blank line that ends a request's header, or until the client goes away.
std::string readRequestHeader(int connection) {
    std::string received;
    char buffer[1024];
    while (received.find("\r\n\r\n") == std::string::npos) {
        const ssize_t got = ::recv(connection, buffer, sizeof(buffer), 0);
        if (got <= 0) break;
        received.append(buffer, static_cast<size_t>(got));
    }
    return received;
}

// The path of "GET /path HTTP/1.1" without its leading "/".
std::string requestedPath(const std::string& header) {
    const size_t start = header.find(" /");
    const size_t end = header.find(' ', start + 1);
    if (start == std::string::npos || end == std::string::npos) return "";
    return header.substr(start + 2, end - start - 2);
}

void sendAll(int connection, const std::string& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t sent = ::send(connection, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (sent <= 0) return;
        at += static_cast<size_t>(sent);
    }
}

}  // namespace

std::string replyHeaderFor(uint64_t contentLength) {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
           std::to_string(contentLength) + "\r\n\r\n";
}

TtricklingServer::TtricklingServer(TtrickleScript trickleScript) : script(std::move(trickleScript)) {
    listening = listenOnLoopback(4, port);
    serving = std::thread([this] { serveOneClient(); });
}

TtricklingServer::~TtricklingServer() {
    {
        const std::lock_guard<std::mutex> lock(releaseMutex);
        released = true;
    }
    releaseSignal.notify_all();
    // Wakes an accept that is still waiting for a client.
    ::shutdown(listening, SHUT_RDWR);
    serving.join();
    ::close(listening);
}

std::string TtricklingServer::url(const std::string& path) const {
    return loopbackUrl(port, path);
}

bool TtricklingServer::pause(uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(releaseMutex);
    return !releaseSignal.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return released; });
}

void TtricklingServer::serveOneClient() {
    const int connection = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) return;
    readRequestHeader(connection);
    bool goOn = true;
    for (size_t at = 0; at < script.pieces.size() && goOn; ++at) {
        if (at > 0) goOn = pause(script.gapMs);
        const std::string& piece = script.pieces[at];
        if (goOn) goOn = ::send(connection, piece.data(), piece.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(piece.size());
    }
    // The bound only keeps a broken client from holding the test for ever.
    if (goOn && script.fallsSilent) pause(120000);
    ::close(connection);
}

TunansweredPort::TunansweredPort() {
    // With a queue of length 0 the kernel keeps one finished connection waiting for accept;
    // once this filler takes that place, further connection requests are dropped unanswered.
    listening = listenOnLoopback(0, port);
    filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (filler < 0 || ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        throw std::runtime_error("The test cannot fill the queue of its unanswered port.");
}

TunansweredPort::~TunansweredPort() {
    ::close(filler);
    ::close(listening);
}

std::string TunansweredPort::url(const std::string& path) const {
    return loopbackUrl(port, path);
}

TscriptedServer::TscriptedServer(std::map<std::string, std::string> scriptedReplies)
    : replies(std::move(scriptedReplies)) {
    listening = listenOnLoopback(8, port);
    serving = std::thread([this] { serveClients(); });
}

TscriptedServer::~TscriptedServer() {
    // Ends the accept that waits for the next client.
    ::shutdown(listening, SHUT_RDWR);
    serving.join();
    ::close(listening);
}

std::string TscriptedServer::baseUrl() const {
    return loopbackUrl(port, "");
}

void TscriptedServer::serveClients() {
    for (;;) {
        const int connection = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) return;
        const auto reply = replies.find(requestedPath(readRequestHeader(connection)));
        sendAll(connection, reply != replies.end() ? reply->second
                                                   : "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        ::close(connection);
    }
}
