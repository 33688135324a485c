// The ranking server's transport: slow and idle connections, caps, deadlines, framing and size limits.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/test_ranking_fixture.h"

namespace {

using namespace std::chrono_literals;

// A TCP connection from a chosen loopback address, for requests no ordinary client sends.
class TrawConnection {
public:
    explicit TrawConnection(int port, const std::string& from = "127.0.0.1") {
        socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
        const bool bound = ::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0;
        const bool connected = bound && ::connect(socket_, reinterpret_cast<sockaddr*>(&server), sizeof(server)) == 0;
        EXPECT_TRUE(connected) << "connecting from " << from;
    }
    ~TrawConnection() { ::close(socket_); }
    TrawConnection(const TrawConnection&) = delete;
    TrawConnection& operator=(const TrawConnection&) = delete;

    // Sends what the server takes of the bytes: a server that stopped reading ends it early.
    void send(const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t now = ::send(socket_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (now <= 0) return;
            sent += static_cast<size_t>(now);
        }
    }

    // Everything the server sends until it closes; a server still silent after 30 s fails the test.
    std::string readUntilClosed() {
        std::string received;
        while (readSome(received)) {
        }
        return received;
    }

    // One answer: its head and a body of its Content-Length.
    std::string readAnswer() {
        std::string received;
        while (received.find("\r\n\r\n") == std::string::npos)
            if (!readSome(received)) return received;
        const size_t bodyStart = received.find("\r\n\r\n") + 4;
        const size_t length = contentLength(received.substr(0, bodyStart));
        while (received.size() < bodyStart + length)
            if (!readSome(received)) break;
        return received;
    }

private:
    bool readSome(std::string& received) {
        pollfd readable{socket_, POLLIN, 0};
        if (::poll(&readable, 1, 30000) != 1) {
            ADD_FAILURE() << "the server neither answered nor closed in 30 s";
            return false;
        }
        char bytes[16384];
        const ssize_t got = ::recv(socket_, bytes, sizeof(bytes), 0);
        if (got <= 0) return false;
        received.append(bytes, static_cast<size_t>(got));
        return true;
    }

    static size_t contentLength(const std::string& head) {
        const size_t field = head.find("Content-Length: ");
        return field == std::string::npos ? 0 : std::stoul(head.substr(field + 16));
    }

    int socket_ = -1;
};

// The status of an answer, 0 for none.
int statusOf(const std::string& answer) {
    if (answer.rfind("HTTP/1.1 ", 0) != 0 || answer.size() < 12) return 0;
    return std::stoi(answer.substr(9, 3));
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// The body in chunks of this many bytes, then the last, empty chunk.
std::string chunkedBody(const std::string& body, size_t chunkBytes) {
    std::string chunks;
    char size[32];
    for (size_t at = 0; at < body.size(); at += chunkBytes) {
        const std::string chunk = body.substr(at, chunkBytes);
        std::snprintf(size, sizeof(size), "%zx\r\n", chunk.size());
        chunks += size + chunk + "\r\n";
    }
    return chunks + "0\r\n\r\n";
}

class TtransportTest : public ::testing::Test {
protected:
    TtemporaryFolder folder;
    // The deadlines' clock; the service keeps the system's.
    TmanualClock transportClock;
    TrankingLimits limits;
    TtransportLimits transport;
    std::unique_ptr<TrankingStore> store;
    std::unique_ptr<TrankingServer> server;
    std::thread serving;
    int port = 0;

    void SetUp() override {
        transportClock.highResolution = 1000.0;
        transport.clock = &transportClock;
        limits.requestsPerMinute = 100000;
    }

    void TearDown() override {
        if (!server) return;
        server->stop();
        serving.join();
    }

    void startServer() {
        store = std::make_unique<TsqliteRankingStore>(folder.file("ranking.sqlite3"));
        server = std::make_unique<TrankingServer>(*store, limits, transport);
        port = server->bind("127.0.0.1", 0);
        serving = std::thread([this] { server->serve(); });
    }

    // The whole answer to one request sent on a connection of its own.
    std::string answerTo(const std::string& request, const std::string& from = "127.0.0.1") {
        TrawConnection connection(port, from);
        connection.send(request);
        return connection.readUntilClosed();
    }

    bool awaitOpen(size_t count) { return server->awaitOpenConnections(count, 30s); }
};

std::string playerRequest(const std::string& name) {
    const std::string body = json{{"name", name}}.dump();
    return "POST /v1/players HTTP/1.1\r\nHost: ranking\r\nConnection: close\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST_F(TtransportTest, SlowAndIdleConnectionsDoNotHoldUpAPlay) {
    startServer();
    // 200 connections from eight addresses, none over a cap: half stop inside a request's head,
    // a quarter inside its body, the rest never send a byte.
    std::vector<std::unique_ptr<TrawConnection>> held;
    for (int connection = 0; connection < 200; ++connection) {
        held.push_back(std::make_unique<TrawConnection>(port, "127.0.0." + std::to_string(2 + connection % 8)));
        if (connection % 4 < 2) held.back()->send("POST /v1/plays HTTP/1.1\r\nHost: ranking\r\nX-Slow: ");
        if (connection % 4 == 2) held.back()->send("POST /v1/plays HTTP/1.1\r\nContent-Length: 500\r\n\r\n{\"chart");
    }
    ASSERT_TRUE(awaitOpen(200));

    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(30, 0);
    const auto registered = client.Post("/v1/players", json{{"name", "Mika"}}.dump(), "application/json");
    ASSERT_TRUE(registered) << httplib::to_string(registered.error());
    const std::string token = json::parse(registered->body, nullptr, false).value("token", "");
    const std::string chart = blockChart(4);
    const httplib::Headers bearer = {{"Authorization", "Bearer " + token}};
    ASSERT_TRUE(client.Put("/v1/charts/" + sha256Hex(chart), bearer, chart, "text/plain"));
    const auto play = client.Post("/v1/plays", bearer,
                                  playBody(sha256Hex(chart), pressesOn(*parsedChart(chart), 0.5), 900000).dump(),
                                  "application/json");
    ASSERT_TRUE(play) << httplib::to_string(play.error());
    EXPECT_EQ(play->status, 200);
    EXPECT_EQ(json::parse(play->body, nullptr, false).value("status", ""), "verified");
    EXPECT_GE(server->openConnections(), 200u) << "the held connections are all still open";
}

TEST_F(TtransportTest, ConnectionsOverACapAreTurnedAway) {
    transport.maxConnectionsPerAddress = 3;
    transport.maxConnections = 5;
    startServer();
    std::vector<std::unique_ptr<TrawConnection>> held;
    for (int connection = 0; connection < 3; ++connection)
        held.push_back(std::make_unique<TrawConnection>(port, "127.0.0.2"));
    ASSERT_TRUE(awaitOpen(3)) << "three from one address are let in";
    EXPECT_EQ(statusOf(answerTo(playerRequest("Mika"), "127.0.0.2")), 503) << "a fourth from it is not";
    EXPECT_EQ(statusOf(answerTo(playerRequest("Mika"), "127.0.0.3")), 201) << "another address is let in";

    held.push_back(std::make_unique<TrawConnection>(port, "127.0.0.3"));
    held.push_back(std::make_unique<TrawConnection>(port, "127.0.0.4"));
    ASSERT_TRUE(awaitOpen(5)) << "five in all are let in";
    EXPECT_EQ(statusOf(answerTo(playerRequest("Noor"), "127.0.0.5")), 503) << "a sixth is not";

    held.erase(held.begin());
    ASSERT_TRUE(server->awaitOpenConnections(4, 30s)) << "a closed connection frees its place";
    EXPECT_EQ(statusOf(answerTo(playerRequest("Noor"), "127.0.0.2")), 201);
}

TEST_F(TtransportTest, ARequestMustArriveWholeWithinItsDeadline) {
    transport.requestDeadlineMs = 5000.0;
    startServer();
    TrawConnection inHead(port), inBody(port), betweenRequests(port);
    ASSERT_TRUE(awaitOpen(3));
    inHead.send("GET /v1/players/1 HTTP/1.1\r\nHost: ranking\r\n");
    inBody.send("POST /v1/players HTTP/1.1\r\nContent-Length: 20\r\n\r\n{\"name\":");
    transportClock.highResolution = 3000.0;
    betweenRequests.send("GET /v1/players/1 HTTP/1.1\r\nHost: ranking\r\n\r\n");
    EXPECT_EQ(statusOf(betweenRequests.readAnswer()), 404);

    transportClock.highResolution = 5999.0;
    EXPECT_EQ(server->closeOverdueConnections(), 0u);
    transportClock.highResolution = 6000.0;
    EXPECT_EQ(server->closeOverdueConnections(), 2u) << "five seconds after they opened";
    EXPECT_EQ(inHead.readUntilClosed(), "");
    EXPECT_EQ(inBody.readUntilClosed(), "");
    transportClock.highResolution = 7999.0;
    EXPECT_EQ(server->closeOverdueConnections(), 0u) << "a keep-alive wait counts from the last answer";
    transportClock.highResolution = 8000.0;
    EXPECT_EQ(server->closeOverdueConnections(), 1u);
    EXPECT_EQ(betweenRequests.readUntilClosed(), "");
}

TEST_F(TtransportTest, AConnectionIsClosedAfterItsLastAllowedAnswer) {
    transport.maxRequestsPerConnection = 3;
    startServer();
    TrawConnection connection(port);
    std::string requests;
    for (int request = 0; request < 4; ++request) requests += "GET /v1/players/1 HTTP/1.1\r\nHost: ranking\r\n\r\n";
    connection.send(requests);
    const std::string answers = connection.readUntilClosed();
    EXPECT_EQ(occurrences(answers, "HTTP/1.1 404"), 3u) << answers;
    EXPECT_EQ(occurrences(answers, "Connection: close"), 1u) << "only the third says so";
}

TEST_F(TtransportTest, ABodyWhoseLengthIsToldTwiceIsRefused) {
    startServer();
    const std::string body = json{{"name", "Mika"}}.dump();
    const std::string length = "Content-Length: " + std::to_string(body.size()) + "\r\n";
    const std::string head = "POST /v1/players HTTP/1.1\r\nHost: ranking\r\nConnection: close\r\n";
    const std::string chunked = "Transfer-Encoding: chunked\r\n";
    const std::string asChunks = chunkedBody(body, 7);
    for (const std::string& request :
         {head + length + length + "\r\n" + body, head + length + "Content-Length: 99\r\n\r\n" + body,
          head + "Content-Length: 14, 14\r\n\r\n" + body, head + length + chunked + "\r\n" + asChunks,
          head + chunked + length + "\r\n" + asChunks, head + "Transfer-Encoding: gzip\r\n\r\n" + body,
          head + chunked + chunked + "\r\n" + asChunks}) {
        const std::string answer = answerTo(request);
        EXPECT_EQ(statusOf(answer), 400) << request;
        EXPECT_NE(answer.find("\"bad_request\""), std::string::npos) << answer;
    }
    EXPECT_EQ(statusOf(answerTo(head + length + "\r\n" + body)), 201) << "one Content-Length";
    EXPECT_EQ(statusOf(answerTo(head + chunked + "\r\n" + chunkedBody(json{{"name", "Noor"}}.dump(), 7))), 201)
        << "chunked alone";
}

TEST_F(TtransportTest, TheBodyLimitHoldsForChunkedBodies) {
    limits.maxBodyBytes = 1000;
    startServer();
    const auto chunkedPlayer = [](const std::string& name, size_t bodyBytes) {
        std::string body = json{{"name", name}}.dump();
        body.resize(bodyBytes, ' ');
        return "POST /v1/players HTTP/1.1\r\nHost: ranking\r\nConnection: close\r\nTransfer-Encoding: chunked\r\n\r\n" +
               chunkedBody(body, 96);
    };
    EXPECT_EQ(statusOf(answerTo(chunkedPlayer("Mika", 999))), 201);
    EXPECT_EQ(statusOf(answerTo(chunkedPlayer("Noor", 1000))), 201);
    const std::string over = answerTo(chunkedPlayer("Lena", 1001));
    EXPECT_EQ(statusOf(over), 413);
    EXPECT_NE(over.find("\"body_too_large\""), std::string::npos) << over;
    EXPECT_EQ(statusOf(answerTo(chunkedPlayer("Lena", 8 << 20))), 413) << "eight MiB";
}

TEST_F(TtransportTest, HeaderFieldsAreLimitedInNumberAndBytes) {
    transport.maxHeaderFields = 10;
    transport.maxHeaderBytes = 1024;
    startServer();
    const auto withFields = [](int count) {
        std::string request = "GET /v1/players/1 HTTP/1.1\r\nConnection: close\r\n";
        for (int field = 1; field < count; ++field) request += "X-Field-" + std::to_string(field) + ": x\r\n";
        return request + "\r\n";
    };
    EXPECT_EQ(statusOf(answerTo(withFields(9))), 404);
    EXPECT_EQ(statusOf(answerTo(withFields(10))), 404);
    EXPECT_EQ(statusOf(answerTo(withFields(11))), 431);

    // One field padded so that the whole head, its last empty line included, has this many bytes.
    const auto ofBytes = [](size_t bytes) {
        const std::string start = "GET /v1/players/1 HTTP/1.1\r\nConnection: close\r\nX-Pad: ";
        return start + std::string(bytes - start.size() - 4, 'p') + "\r\n\r\n";
    };
    ASSERT_EQ(ofBytes(1024).size(), 1024u);
    EXPECT_EQ(statusOf(answerTo(ofBytes(1023))), 404);
    EXPECT_EQ(statusOf(answerTo(ofBytes(1024))), 404);
    const std::string over = answerTo(ofBytes(1025));
    EXPECT_EQ(statusOf(over), 431);
    EXPECT_NE(over.find("\"headers_too_large\""), std::string::npos) << over;
}

}  // namespace
