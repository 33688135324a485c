// The ranking server's transport: slow and idle connections, caps, deadlines, framing and size limits.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ranking/rankingConnectionGate.h"
#include "ranking/rankingRoutes.h"
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
    // A connection to a Unix socket.
    static std::unique_ptr<TrawConnection> toUnixSocket(const std::string& path) {
        std::unique_ptr<TrawConnection> connection(new TrawConnection());
        connection->socket_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof(address.sun_path) - 1);
        const bool connected =
            ::connect(connection->socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        EXPECT_TRUE(connected) << "connecting to " << path;
        return connection;
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
    TrawConnection() = default;

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
    ASSERT_TRUE(awaitOpen(3)) << "the answered connection is closed";

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

TEST_F(TtransportTest, AddressesTakeTheirOwnMethodAndDecodedParameters) {
    startServer();
    const auto request = [](const std::string& method, const std::string& target) {
        return method + " " + target + " HTTP/1.1\r\nHost: ranking\r\nConnection: close\r\n\r\n";
    };
    const std::string leaderboard = "/v1/charts/" + std::string(64, 'a') + "/1/leaderboard";
    EXPECT_EQ(statusOf(answerTo(request("GET", leaderboard + "?limit=%31%30%30"))), 200) << "limit 100";
    EXPECT_EQ(statusOf(answerTo(request("GET", leaderboard + "?x=1&limit=%31%30%31"))), 400) << "limit 101";
    const std::string wrongMethod = answerTo(request("GET", "/v1/plays"));
    EXPECT_EQ(statusOf(wrongMethod), 405);
    EXPECT_NE(wrongMethod.find("\"method_not_allowed\""), std::string::npos) << wrongMethod;
    EXPECT_EQ(statusOf(answerTo(request("POST", "/v1/players/"))), 404);
    EXPECT_EQ(statusOf(answerTo(request("GET", "/v1//1"))), 404);
}

// Behind a proxy every connection comes from the proxy: registrations per address are counted
// against the client the trusted proxy names, and a header from anyone else names nobody.
TEST_F(TtransportTest, RegistrationsCountAgainstTheClientATrustedProxyNames) {
    limits.registrationsPerHour = 2;
    transport.trustedProxy = "127.0.0.2";
    startServer();
    const auto registration = [](const std::string& name, const std::string& client) {
        const std::string body = json{{"name", name}}.dump();
        return "POST /v1/players HTTP/1.1\r\nHost: ranking\r\nConnection: close\r\nX-Real-IP: " + client +
               "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    EXPECT_EQ(statusOf(answerTo(registration("Aiko", "198.51.100.7"), "127.0.0.2")), 201);
    EXPECT_EQ(statusOf(answerTo(registration("Bram", "198.51.100.7"), "127.0.0.2")), 201);
    EXPECT_EQ(statusOf(answerTo(registration("Cleo", "198.51.100.7"), "127.0.0.2")), 429) << "that client's third";
    EXPECT_EQ(statusOf(answerTo(registration("Dana", "198.51.100.8"), "127.0.0.2")), 201) << "another client";

    EXPECT_EQ(statusOf(answerTo(registration("Emil", "198.51.100.9"), "127.0.0.3")), 201);
    EXPECT_EQ(statusOf(answerTo(registration("Fern", "198.51.100.10"), "127.0.0.3")), 201);
    EXPECT_EQ(statusOf(answerTo(registration("Gwen", "198.51.100.11"), "127.0.0.3")), 429)
        << "an untrusted peer's header is not believed";
}

// A proxy may send the absolute form of a target; it names the same address as the path alone.
TEST(TrankingAddressTest, AnAbsoluteTargetNamesItsPath) {
    const TrankingAddress player = rankingAddressOf("GET", "http://ranking/v1/players/7");
    EXPECT_EQ(player.endpoint, TrankingEndpoint::playerPlays);
    EXPECT_EQ(player.playerId, "7");
    EXPECT_EQ(rankingAddressOf("POST", "HTTPS://ranking:8090/v1/plays").endpoint, TrankingEndpoint::submitPlay);
    const TrankingAddress board = rankingAddressOf("GET", "http://r/v1/charts/ab/1/leaderboard?limit=%35");
    EXPECT_EQ(board.endpoint, TrankingEndpoint::leaderboard);
    EXPECT_EQ(board.limit, "5");
    EXPECT_EQ(rankingAddressOf("GET", "http://ranking").endpoint, TrankingEndpoint::notFound);
    EXPECT_EQ(rankingAddressOf("GET", "http://ranking?/v1/players/7").endpoint, TrankingEndpoint::notFound);
    EXPECT_EQ(rankingAddressOf("GET", "ftp://ranking/v1/players/7").endpoint, TrankingEndpoint::notFound);
    EXPECT_EQ(rankingAddressOf("GET", "http:/v1/players/7").endpoint, TrankingEndpoint::notFound);
}

TEST_F(TtransportTest, AnAnswerToHeadHasNoBodySoTheNextAnswerIsReadRight) {
    startServer();
    TrawConnection connection(port);
    connection.send("HEAD /v1/players/1 HTTP/1.1\r\nHost: ranking\r\n\r\n"
                    "GET /v1/players/1 HTTP/1.1\r\nHost: ranking\r\nConnection: close\r\n\r\n");
    const std::string answers = connection.readUntilClosed();
    const size_t headEnd = answers.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos) << answers;
    EXPECT_EQ(statusOf(answers), 405);
    EXPECT_NE(answers.substr(0, headEnd).find("Content-Length: 82"), std::string::npos)
        << "the length the body would have: " << answers;
    EXPECT_EQ(statusOf(answers.substr(headEnd + 4)), 404) << "the next answer follows the head at once: " << answers;
}

TEST_F(TtransportTest, BodiesInFlightShareOneBudget) {
    limits.maxBodyBytes = 1000;
    transport.maxBodyBytesInFlight = 2000;
    startServer();
    // "100 Continue" comes once the server took the body's bytes from the budget.
    const auto headExpectingBody = [](const std::string& framing) {
        return "POST /v1/players HTTP/1.1\r\nHost: ranking\r\nExpect: 100-continue\r\n" + framing + "\r\n";
    };
    TrawConnection told(port), chunked(port);
    told.send(headExpectingBody("Content-Length: 1000\r\n"));
    EXPECT_EQ(told.readAnswer(), "HTTP/1.1 100 Continue\r\n\r\n");
    chunked.send(headExpectingBody("Transfer-Encoding: chunked\r\n"));
    EXPECT_EQ(chunked.readAnswer(), "HTTP/1.1 100 Continue\r\n\r\n") << "the budget's last 1000 bytes";
    const std::string refused = answerTo(headExpectingBody("Content-Length: 1\r\nConnection: close\r\n") + "x");
    EXPECT_EQ(statusOf(refused), 503) << "one byte over";
    EXPECT_NE(refused.find("\"busy\""), std::string::npos) << refused;
    EXPECT_EQ(statusOf(answerTo("GET /v1/players/1 HTTP/1.1\r\nConnection: close\r\n\r\n")), 404) << "no body";

    std::string body = json{{"name", "Mika"}}.dump();
    body.resize(1000, ' ');
    told.send(body);
    EXPECT_EQ(statusOf(told.readAnswer()), 201);
    TrawConnection again(port);
    again.send(headExpectingBody("Content-Length: 1000\r\n"));
    EXPECT_EQ(again.readAnswer(), "HTTP/1.1 100 Continue\r\n\r\n") << "an answered body gives its bytes back";
}

TEST_F(TtransportTest, OneAddressHoldsOnlyItsShareOfTheBodyBudget) {
    limits.maxBodyBytes = 1000;
    transport.maxBodyBytesInFlight = 10000;
    transport.maxBodyBytesInFlightPerAddress = 2000;
    startServer();
    const auto headTelling = [](size_t bytes) {
        return "POST /v1/players HTTP/1.1\r\nHost: ranking\r\nExpect: 100-continue\r\nContent-Length: " +
               std::to_string(bytes) + "\r\n\r\n";
    };
    const std::string goAhead = "HTTP/1.1 100 Continue\r\n\r\n";
    TrawConnection first(port, "127.0.0.2"), second(port, "127.0.0.2"), third(port, "127.0.0.2");
    first.send(headTelling(1000));
    EXPECT_EQ(first.readAnswer(), goAhead);
    second.send(headTelling(999));
    EXPECT_EQ(second.readAnswer(), goAhead) << "one byte under the address's share";
    third.send(headTelling(1));
    EXPECT_EQ(third.readAnswer(), goAhead) << "the address's whole share";
    EXPECT_EQ(statusOf(answerTo(headTelling(1) + "x", "127.0.0.2")), 503) << "one byte over it";
    TrawConnection elsewhere(port, "127.0.0.3");
    elsewhere.send(headTelling(1000));
    EXPECT_EQ(elsewhere.readAnswer(), goAhead) << "another address still has the rest of the budget";

    std::string body = json{{"name", "Mika"}}.dump();
    body.resize(1000, ' ');
    first.send(body);
    EXPECT_EQ(statusOf(first.readAnswer()), 201);
    TrawConnection again(port, "127.0.0.2");
    again.send(headTelling(1000));
    EXPECT_EQ(again.readAnswer(), goAhead) << "an answered body gives its bytes back to its address";
}

TEST_F(TtransportTest, WithoutAConnectionCapPerAddressOneAddressMayHoldTheWholeBodyBudget) {
    limits.maxBodyBytes = 1000;
    transport.maxBodyBytesInFlight = 2000;
    transport.maxBodyBytesInFlightPerAddress = 1000;
    transport.maxConnectionsPerAddress = 0;
    startServer();
    const std::string head =
        "POST /v1/players HTTP/1.1\r\nHost: ranking\r\nExpect: 100-continue\r\nContent-Length: 1000\r\n\r\n";
    TrawConnection first(port), second(port);
    first.send(head);
    EXPECT_EQ(first.readAnswer(), "HTTP/1.1 100 Continue\r\n\r\n");
    second.send(head);
    EXPECT_EQ(second.readAnswer(), "HTTP/1.1 100 Continue\r\n\r\n") << "as behind a proxy";
}

TEST_F(TtransportTest, BytesWaitingToBeParsedAreBounded) {
    transport.maxHeaderBytes = 1024;
    transport.maxPendingBytes = 4096;
    startServer();
    const std::string head =
        "POST /v1/players HTTP/1.1\r\nHost: ranking\r\nConnection: close\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string body = json{{"name", "Mika"}}.dump();
    char size[16];
    std::snprintf(size, sizeof(size), "%zx", body.size());
    // The first chunk's size line, extensions included, of this many bytes with its line end.
    const auto sizeLineOf = [&size](size_t bytes) {
        const std::string start = std::string(size) + ";x=";
        return start + std::string(bytes - start.size() - 2, 'e') + "\r\n";
    };
    ASSERT_EQ(sizeLineOf(4096).size(), 4096u);
    EXPECT_EQ(statusOf(answerTo(head + sizeLineOf(4095) + body + "\r\n0\r\n\r\n")), 201);
    EXPECT_EQ(statusOf(answerTo(head + sizeLineOf(4096) + body + "\r\n0\r\n\r\n")), 409) << "the name is taken";
    EXPECT_EQ(statusOf(answerTo(head + sizeLineOf(4097) + body + "\r\n0\r\n\r\n")), 400);

    // The line end closing the chunk before, the last chunk and its trailer, this many bytes in all.
    const auto trailerOf = [](size_t bytes) {
        const std::string start = "\r\n0\r\nX-Pad: ";
        return start + std::string(bytes - start.size() - 4, 't') + "\r\n\r\n";
    };
    ASSERT_EQ(trailerOf(4096).size(), 4096u);
    const std::string chunk = std::string(size) + "\r\n" + json{{"name", "Noor"}}.dump();
    EXPECT_EQ(statusOf(answerTo(head + chunk + trailerOf(4096))), 201);
    EXPECT_EQ(statusOf(answerTo(head + chunk + trailerOf(4097))), 400);
    // A size line that never ends is refused once it passes the bound, not read on until the deadline.
    TrawConnection endless(port);
    endless.send(head + std::string(size) + ";x=" + std::string(1 << 20, 'e'));
    EXPECT_EQ(statusOf(endless.readAnswer()), 400);
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

// Past the descriptor limit a connection would wait unaccepted rather than be turned away with 503.
TEST(TconnectionCapTest, TheCapLeavesTheProcessItsOwnDescriptors) {
    EXPECT_EQ(connectionCapWithin(512, 575), 511u);
    EXPECT_EQ(connectionCapWithin(512, 576), 512u);
    EXPECT_EQ(connectionCapWithin(512, 577), 512u);
    EXPECT_EQ(connectionCapWithin(512, 1048576), 512u);
    EXPECT_EQ(connectionCapWithin(512, 64), 1u) << "never none";
    EXPECT_EQ(connectionCapWithin(512, 65), 1u);
    EXPECT_EQ(connectionCapWithin(512, 66), 2u);
}

// A program the test started, its standard output on a pipe; stopped with SIGTERM when it goes.
class TchildProcess {
public:
    explicit TchildProcess(const std::vector<std::string>& arguments) {
        int pipeEnds[2];
        if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        std::vector<char*> argv;
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeEnds[1]);
        output_ = pipeEnds[0];
    }
    ~TchildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) ::close(output_);
    }
    TchildProcess(const TchildProcess&) = delete;
    TchildProcess& operator=(const TchildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    // The first line the program printed; "" when it printed none within 30 s.
    std::string firstLine() {
        std::string line;
        char byte = 0;
        pollfd readable{output_, POLLIN, 0};
        while (::poll(&readable, 1, 30000) == 1 && ::read(output_, &byte, 1) == 1 && byte != '\n') line += byte;
        return line;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
};

// Waits until a file of this name is written in the folder; false after 30 s without it.
bool awaitFileWritten(const std::string& folder, const std::string& name) {
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ::inotify_add_watch(watch, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
    bool written = std::ifstream(folder + "/" + name).good();
    alignas(inotify_event) char events[4096];
    pollfd readable{watch, POLLIN, 0};
    while (!written && ::poll(&readable, 1, 30000) == 1) {
        const ssize_t got = ::read(watch, events, sizeof(events));
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (event->len > 0 && name == event->name) written = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    ::close(watch);
    return written;
}

// Established TCP connections whose local end is this port on this machine.
size_t establishedTo(int port) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    size_t count = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        const size_t colon = local.find(':');
        if (colon != std::string::npos && std::stoi(local.substr(colon + 1), nullptr, 16) == port && state == "01")
            ++count;
    }
    return count;
}

// The nginx configuration of the deployment guide, on a Unix socket in the test's folder, with the
// server that answered told in X-Upstream.
std::string nginxConfiguration(const std::string& folder, int firstPort, int secondPort) {
    const std::string user = ::geteuid() == 0 ? "user root;\n" : "";
    return user + "worker_processes 1;\npid " + folder + "/nginx.pid;\nerror_log " + folder +
           "/error.log;\ndaemon off;\nevents { worker_connections 256; }\nhttp {\n"
           "    access_log off;\n"
           "    client_body_temp_path " + folder + "/body;\n    proxy_temp_path " + folder + "/proxy;\n"
           "    fastcgi_temp_path " + folder + "/fastcgi;\n    uwsgi_temp_path " + folder + "/uwsgi;\n"
           "    scgi_temp_path " + folder + "/scgi;\n"
           "    upstream trellik_ranking {\n"
           "        server 127.0.0.1:" + std::to_string(firstPort) + ";\n"
           "        server 127.0.0.1:" + std::to_string(secondPort) + ";\n"
           "        keepalive 8;\n        keepalive_timeout 5s;\n    }\n"
           "    server {\n        listen unix:" + folder + "/nginx.sock;\n"
           "        client_header_timeout 10s;\n        client_body_timeout 10s;\n        keepalive_timeout 5s;\n"
           "        client_max_body_size 1m;\n        client_body_buffer_size 1m;\n"
           "        location /v1/ {\n"
           "            proxy_pass http://trellik_ranking;\n            proxy_http_version 1.1;\n"
           "            proxy_set_header Connection \"\";\n            proxy_set_header Host $host;\n"
           "            proxy_set_header X-Real-IP $remote_addr;\n"
           "            proxy_read_timeout 30s;\n"
           "            add_header X-Upstream $upstream_addr always;\n"
           "        }\n    }\n}\n";
}

// Two server programs sharing a database in the private PostgreSQL cluster, behind nginx.
class TbehindNginxTest : public ::testing::Test {
protected:
    std::unique_ptr<TpostgresScratchDatabase> postgres;
    TtemporaryFolder folder;
    std::vector<std::unique_ptr<TchildProcess>> servers;
    std::set<std::string> serverAddresses;
    std::unique_ptr<TchildProcess> nginx;
    const std::string chart = blockChart(4);
    const std::string chartSha = sha256Hex(chart);

    void SetUp() override {
        postgres = std::make_unique<TpostgresScratchDatabase>();
        if (!postgres->ok()) GTEST_SKIP() << "no PostgreSQL cluster in TRELLIK_POSTGRES (./test.sh starts one)";
        ASSERT_EQ(::access("/usr/sbin/nginx", X_OK), 0) << "nginx is missing: run scripts/install-deps.sh";
        std::vector<int> ports;
        for (int server = 0; server < 2; ++server) {
            servers.push_back(std::make_unique<TchildProcess>(std::vector<std::string>{
                TRELLIK_RANKING_SERVER, "--port", "0", "--database", postgres->address(), "--connections", "16",
                "--connections-per-address", "16", "--trusted-proxy", "127.0.0.1"}));
            const std::string line = servers.back()->firstLine();
            const size_t port = line.find("127.0.0.1:");
            ASSERT_NE(port, std::string::npos) << "the server said: " << line;
            ports.push_back(std::stoi(line.substr(port + 10)));
            serverAddresses.insert("127.0.0.1:" + std::to_string(ports.back()));
        }
        std::ofstream(folder.file("nginx.conf")) << nginxConfiguration(folder.path(), ports[0], ports[1]);
        nginx = std::make_unique<TchildProcess>(std::vector<std::string>{
            "/usr/sbin/nginx", "-p", folder.path(), "-c", folder.file("nginx.conf"), "-e", folder.file("error.log")});
        ASSERT_TRUE(nginx->started());
        ASSERT_TRUE(awaitFileWritten(folder.path(), "nginx.pid")) << "nginx did not start; see its error.log";
    }

    void TearDown() override {
        nginx.reset();
        servers.clear();
    }

    struct Tanswer {
        int status = 0;
        json body;
        std::string upstream;
    };

    Tanswer viaNginx(const std::string& method, const std::string& path, const std::string& body,
                     const std::string& token = "") {
        const auto connection = TrawConnection::toUnixSocket(folder.file("nginx.sock"));
        connection->send(method + " " + path + " HTTP/1.1\r\nHost: ranking\r\nConnection: close\r\n" +
                         (token.empty() ? "" : "Authorization: Bearer " + token + "\r\n") +
                         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
        const std::string answer = connection->readUntilClosed();
        Tanswer parsed;
        parsed.status = statusOf(answer);
        const size_t bodyStart = answer.find("\r\n\r\n");
        parsed.body = json::parse(bodyStart == std::string::npos ? "" : answer.substr(bodyStart + 4), nullptr, false);
        const size_t upstream = answer.find("X-Upstream: ");
        if (upstream != std::string::npos)
            parsed.upstream = answer.substr(upstream + 12, answer.find('\r', upstream) - upstream - 12);
        return parsed;
    }

    // A registered player's token, with the chart on the servers.
    std::string playerWithChart(const std::string& name) {
        const Tanswer registered = viaNginx("POST", "/v1/players", json{{"name", name}}.dump());
        EXPECT_EQ(registered.status, 201) << registered.body.dump();
        const std::string token = registered.body.value("token", "");
        EXPECT_EQ(viaNginx("PUT", "/v1/charts/" + chartSha, chart, token).status / 100, 2);
        return token;
    }

    std::string playOffBy(double ms) const {
        const auto parsed = parsedChart(chart);
        const std::vector<TjudgePress> presses = pressesOn(*parsed, ms);
        return playBody(chartSha, presses, judgePlay(*parsed, TtimingConstants{}, 0, presses).score).dump();
    }
};

TEST_F(TbehindNginxTest, PlaysGoThroughBothServers) {
    const std::string token = playerWithChart("Mika");
    std::set<std::string> answeredBy;
    for (const double offBy : {0.5, 0.7, 1.1, 1.3}) {
        const Tanswer played = viaNginx("POST", "/v1/plays", playOffBy(offBy), token);
        EXPECT_EQ(played.status, 200) << played.body.dump();
        EXPECT_EQ(played.body.value("status", ""), "verified") << played.body.dump();
        answeredBy.insert(played.upstream);
    }
    EXPECT_EQ(answeredBy, serverAddresses);
}

TEST_F(TbehindNginxTest, TheSamePlayRacedThroughBothServersIsKeptOnce) {
    const std::string token = playerWithChart("Mika");
    bool racedThroughBoth = false;
    for (int attempt = 0; attempt < 5 && !racedThroughBoth; ++attempt) {
        const std::string play = playOffBy(0.5 + 0.1 * attempt);
        Tanswer first, second;
        std::thread other([&] { second = viaNginx("POST", "/v1/plays", play, token); });
        first = viaNginx("POST", "/v1/plays", play, token);
        other.join();
        if (first.upstream == second.upstream) continue;
        racedThroughBoth = true;
        ASSERT_EQ(first.status, 200) << first.body.dump();
        ASSERT_EQ(second.status, 200) << second.body.dump();
        EXPECT_EQ(first.body.value("play_id", 0), second.body.value("play_id", -1));
        EXPECT_NE(first.body.value("already_kept", false), second.body.value("already_kept", false))
            << "one of the two was kept, the other answered from it";
        const Tanswer player = viaNginx("GET", "/v1/players/1", "");
        const json plays = player.body.value("plays", json::array());
        EXPECT_EQ(plays.size(), static_cast<size_t>(attempt) + 1) << player.body.dump();
    }
    EXPECT_TRUE(racedThroughBoth) << "nginx sent each pair to one server";
}

TEST_F(TbehindNginxTest, SlowConnectionsStopAtNginx) {
    std::vector<std::unique_ptr<TrawConnection>> held;
    for (int connection = 0; connection < 40; ++connection) {
        held.push_back(TrawConnection::toUnixSocket(folder.file("nginx.sock")));
        held.back()->send(connection % 2 == 0 ? "POST /v1/players HTTP/1.1\r\nHost: ranking\r\nX-Slow: "
                                              : "POST /v1/players HTTP/1.1\r\nHost: ranking\r\n"
                                                "Content-Length: 500\r\n\r\n{\"name\"");
    }
    const std::string token = playerWithChart("Mika");
    const Tanswer played = viaNginx("POST", "/v1/plays", playOffBy(0.5), token);
    EXPECT_EQ(played.status, 200) << played.body.dump();
    size_t reachingServers = 0;
    for (const std::string& address : serverAddresses)
        reachingServers += establishedTo(std::stoi(address.substr(address.find(':') + 1)));
    EXPECT_LE(reachingServers, 8u) << "no more than nginx keeps alive; the 40 held connections stay with nginx";
}

}  // namespace
