// A bounded load on the ranking server over loopback: 64 clients submitting 1000-press plays, each
// judged by the server and kept in its database (an SQLite file; also the PostgreSQL cluster at
// TRELLIK_POSTGRES when set). Two passes a database: as fast as the server answers (throughput),
// then at 500 plays a second (latency, counted from each play's planned moment so that a late
// answer delays no later measurement). Then the network's abuse: plays answered while 200 slow or
// idle connections are held open, and the server's memory through a huge chunked body and a flood of
// header lines (the server in a process of its own, so that its peak RSS is its own).
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_ranking_database.h"
#include "bench/support/playFigures.h"
#include "engine/playJudge.h"
#include "platform/store/sha256.h"
#include "ranking/rankingPostgresStore.h"
#include "ranking/rankingServer.h"
#include "ranking/rankingSqliteStore.h"

namespace {

using nlohmann::json;
using steadyClock = std::chrono::steady_clock;

constexpr int clientCount = 64;
constexpr int pressCount = 1000;
// Each pass stops at whichever comes first.
constexpr int saturatedPlays = 4000;
constexpr int pacedPlays = 2500;
constexpr double pacedPlaysPerSecond = 500.0;
constexpr double secondsLimit = 30.0;

// 63 blocks of sixteen single markers at 240 bpm: 1008 markers, 62.5 ms apart.
std::string denseChart() {
    std::string text;
    const char* const rows[] = {"1234", "5678", "9abc", "defg"};
    for (int block = 0; block < 63; ++block)
        for (const char* row : rows)
            text += std::string(row) + (block == 0 && row == rows[0] ? " |(240)[500]" : " |") + "xxxx|\n";
    return text;
}

// A player's play: the first 1000 markers pressed up to 80 ms off, never exactly on a beat.
std::string playBody(const TsongParser& chart, const std::string& sha256, std::mt19937& random) {
    std::uniform_real_distribution<double> off(-80.0, 80.0);
    std::vector<TjudgePress> presses;
    for (int32_t row = 0; row < chart.entryCount && static_cast<int>(presses.size()) < pressCount; ++row)
        for (int32_t keyIndex = 0; keyIndex < 16; ++keyIndex)
            if (chart.entries[row].panels[keyIndex] != 0)
                presses.push_back({transposeIndex(keyIndex),
                                   perfectMusicMs(TtimingConstants{}, chart.entries[row], 0) + off(random) + 0.25});
    std::sort(presses.begin(), presses.end(), [](const auto& a, const auto& b) { return a.musicMs < b.musicMs; });
    json list = json::array();
    // The API numbers panels in key order.
    for (const TjudgePress& press : presses) list.push_back({transposeIndex(press.panel), press.musicMs});
    const int32_t score = judgePlay(chart, TtimingConstants{}, 0, presses).score;
    return json{{"chart_sha256", sha256}, {"difficulty", 2},        {"rate", 1.0},      {"audio_offset", 0},
                {"visual_offset", 0},     {"claimed_score", score}, {"presses", list}}
        .dump();
}

struct Tload {
    std::mutex mutex;
    std::vector<double> latenciesMs;
    std::atomic<int> failures{0};
};

// A client with its connection open, so the load measures submissions and not connecting: the
// library's listen queue is short, and a burst of new connections waits on the kernel's retries.
std::unique_ptr<httplib::Client> connectedClient(int port) {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
    client->set_keep_alive(true);
    client->set_tcp_nodelay(true);
    client->Get("/v1/players/1");
    return client;
}

void submit(httplib::Client& client, const httplib::Headers& headers, const std::string& body, Tload& load,
            steadyClock::time_point from) {
    const httplib::Result result = client.Post("/v1/plays", headers, body, "application/json");
    const double ms = std::chrono::duration<double, std::milli>(steadyClock::now() - from).count();
    if (!result || result->status != 200 || result->body.find("\"verified\"") == std::string::npos) {
        if (load.failures++ < 3)
            std::fprintf(stderr, "bench_ranking_load: %s\n",
                         result ? result->body.substr(0, 200).c_str() : httplib::to_string(result.error()).c_str());
    }
    const std::lock_guard<std::mutex> lock(load.mutex);
    load.latenciesMs.push_back(ms);
}

// The plays of one pass: play n is client n % 64's.
using Tbodies = std::vector<std::string>;

struct Tpass {
    double seconds = 0.0;
    std::vector<double> latenciesMs;
    int failures = 0;
};

// Every client sends its plays one after another, as fast as the answers come.
Tpass runSaturated(std::vector<std::unique_ptr<httplib::Client>>& connections, const std::vector<std::string>& tokens,
                   const Tbodies& bodies) {
    Tload load;
    std::atomic<size_t> next{0};
    const auto start = steadyClock::now();
    const auto deadline = start + std::chrono::seconds(static_cast<int>(secondsLimit));
    std::vector<std::thread> clients;
    for (int client = 0; client < clientCount; ++client)
        clients.emplace_back([&, client] {
            const httplib::Headers headers = {{"Authorization", "Bearer " + tokens[client]}};
            for (size_t play = next++; play < bodies.size() && steadyClock::now() < deadline; play = next++)
                submit(*connections[client], headers, bodies[play], load, steadyClock::now());
        });
    for (std::thread& client : clients) client.join();
    return {std::chrono::duration<double>(steadyClock::now() - start).count(), load.latenciesMs, load.failures};
}

// Play n is due at n / 500 s; each client sends its own (n % 64 == client) at their moments.
Tpass runPaced(std::vector<std::unique_ptr<httplib::Client>>& connections, const std::vector<std::string>& tokens,
               const Tbodies& bodies) {
    Tload load;
    const auto start = steadyClock::now() + std::chrono::milliseconds(100);
    std::vector<std::thread> clients;
    for (int client = 0; client < clientCount; ++client)
        clients.emplace_back([&, client] {
            const httplib::Headers headers = {{"Authorization", "Bearer " + tokens[client]}};
            for (size_t play = client; play < bodies.size(); play += clientCount) {
                const auto due = start + std::chrono::duration_cast<steadyClock::duration>(
                                             std::chrono::duration<double>(play / pacedPlaysPerSecond));
                std::this_thread::sleep_until(due);
                submit(*connections[client], headers, bodies[play], load, due);
            }
        });
    for (std::thread& client : clients) client.join();
    return {std::chrono::duration<double>(steadyClock::now() - start).count(), load.latenciesMs, load.failures};
}

// Both passes against one database; returns false when a play was not verified.
bool measure(TrankingStore& store, const std::string& suffix, const std::string& chart, const Tbodies& saturated,
             const Tbodies& paced) {
    TrankingLimits limits;
    limits.requestsPerMinute = 1000000;
    // The 64 clients come from one address, as through a proxy.
    TtransportLimits transport;
    transport.maxConnectionsPerAddress = 0;
    TrankingServer server(store, limits, transport);
    const int port = server.bind("127.0.0.1", 0);
    std::thread serving([&server] { server.serve(); });

    httplib::Client setup("127.0.0.1", port);
    std::vector<std::string> tokens;
    for (int client = 0; client < clientCount; ++client) {
        const std::string body = json{{"name", "load " + std::to_string(::getpid()) + " " + std::to_string(client)}}.dump();
        const auto reply = setup.Post("/v1/players", body, "application/json");
        tokens.push_back(reply ? json::parse(reply->body, nullptr, false).value("token", "") : "");
    }
    setup.Put("/v1/charts/" + sha256Hex(chart), {{"Authorization", "Bearer " + tokens[0]}}, chart, "text/plain");
    std::vector<std::unique_ptr<httplib::Client>> connections;
    for (int client = 0; client < clientCount; ++client) connections.push_back(connectedClient(port));

    const Tpass fast = runSaturated(connections, tokens, saturated);
    const Tpass steady = runPaced(connections, tokens, paced);
    connections.clear();
    server.stop();
    serving.join();

    std::printf("ranking_submit%s: %zu plays of %d presses by %d clients in %.2f s as fast as answered, %zu at %.0f/s; "
                "%d not verified\n",
                suffix.c_str(), fast.latenciesMs.size(), pressCount, clientCount, fast.seconds,
                steady.latenciesMs.size(), pacedPlaysPerSecond, fast.failures + steady.failures);
    std::printf("figure ranking_submit_throughput%s value=%.0f unit=plays/s\n", suffix.c_str(),
                fast.latenciesMs.size() / fast.seconds);
    printFigure(("ranking_submit_latency" + suffix).c_str(), steady.latenciesMs);
    printFigure(("ranking_submit_latency_saturated" + suffix).c_str(), fast.latenciesMs);
    return fast.failures + steady.failures == 0;
}

// A connection to the port on loopback from a chosen loopback address; -1 when refused.
int connectFrom(const std::string& from, int port) {
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{}, server{};
    local.sin_family = server.sin_family = AF_INET;
    ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
    server.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(socket, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0 ||
        ::connect(socket, reinterpret_cast<sockaddr*>(&server), sizeof(server)) != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

void sendAll(int socket, const std::string& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        const ssize_t now = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (now <= 0) return;
        sent += static_cast<size_t>(now);
    }
}

// The status line of the first answer on the socket, read until the server closes it.
std::string firstStatusLine(int socket) {
    std::string received;
    char bytes[4096];
    for (ssize_t got; (got = ::recv(socket, bytes, sizeof(bytes), 0)) > 0;)
        received.append(bytes, static_cast<size_t>(got));
    return received.substr(0, received.find('\r'));
}

// 200 connections from eight addresses held open, half stopped inside a request's head and sending
// one more header byte every second, half never sending anything; meanwhile one client's plays.
void measureBesideSlowConnections(const std::string& chart, const Tbodies& bodies) {
    char folder[] = "/tmp/bench_ranking_slow.XXXXXX";
    if (!::mkdtemp(folder)) return;
    {
        TsqliteRankingStore store(std::string(folder) + "/ranking.sqlite3");
        TrankingServer server(store, TrankingLimits{});
        const int port = server.bind("127.0.0.1", 0);
        std::thread serving([&server] { server.serve(); });
        std::vector<int> held;
        for (int connection = 0; connection < 200; ++connection) {
            held.push_back(connectFrom("127.0.0." + std::to_string(2 + connection % 8), port));
            if (connection % 2 == 0) sendAll(held.back(), "POST /v1/plays HTTP/1.1\r\nHost: ranking\r\nX-Slow: ");
        }
        server.awaitOpenConnections(200, std::chrono::seconds(30));
        std::atomic<bool> trickling{true};
        std::thread trickle([&] {
            while (trickling) {
                for (size_t connection = 0; connection < held.size(); connection += 2) sendAll(held[connection], "x");
                std::this_thread::sleep_for(std::chrono::seconds(1));
            }
        });
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(30, 0);
        const auto registered = client.Post("/v1/players", json{{"name", "beside slow"}}.dump(), "application/json");
        const std::string token = registered ? json::parse(registered->body, nullptr, false).value("token", "") : "";
        const httplib::Headers headers = {{"Authorization", "Bearer " + token}};
        client.Put("/v1/charts/" + sha256Hex(chart), headers, chart, "text/plain");
        std::vector<double> latenciesMs;
        int answered = 0;
        for (size_t play = 0; play < 50 && play < bodies.size(); ++play) {
            const auto from = steadyClock::now();
            const auto reply = client.Post("/v1/plays", headers, bodies[play], "application/json");
            latenciesMs.push_back(std::chrono::duration<double, std::milli>(steadyClock::now() - from).count());
            answered += reply && reply->status == 200;
        }
        std::printf("ranking_play_beside_slow_connections: %zu connections held, %d of %zu plays answered, %zu "
                    "connections still open\n",
                    held.size(), answered, latenciesMs.size(), server.openConnections());
        printFigure("ranking_play_latency_beside_200_slow_connections", latenciesMs);
        trickling = false;
        trickle.join();
        for (const int socket : held) ::close(socket);
        server.stop();
        serving.join();
    }
    std::filesystem::remove_all(folder);
}

// The peak resident memory of a process, in MiB, from the kernel's count.
double peakRssMiB(pid_t process) {
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0.0;
}

// A server in a child process, forked before this process has threads; its port comes back on a pipe.
pid_t forkServer(const std::string& folder, int& port) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        TsqliteRankingStore store(folder + "/ranking.sqlite3");
        TrankingServer server(store, TrankingLimits{});
        const int bound = server.bind("127.0.0.1", 0);
        if (::write(pipeEnds[1], &bound, sizeof(bound)) != sizeof(bound)) ::_exit(1);
        server.serve();
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    if (child < 0 || ::read(pipeEnds[0], &port, sizeof(port)) != sizeof(port)) port = 0;
    ::close(pipeEnds[0]);
    return child;
}

// A 300 MiB chunked body, 65 536 header lines of 8 KiB, then a chunk size line of 300 MiB: the server's
// peak memory through all three.
void measureMemoryUnderAttack() {
    char folder[] = "/tmp/bench_ranking_attack.XXXXXX";
    if (!::mkdtemp(folder)) return;
    int port = 0;
    const pid_t child = forkServer(folder, port);
    if (child <= 0 || port == 0) {
        if (child > 0) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
        std::filesystem::remove_all(folder);
        std::printf("ranking_server_rss_under_attack: skipped, the server process did not start\n");
        return;
    }
    const double before = peakRssMiB(child);
    const std::string chunk = "10000\r\n" + std::string(0x10000, 'x') + "\r\n";
    int socket = connectFrom("127.0.0.1", port);
    sendAll(socket, "POST /v1/plays HTTP/1.1\r\nHost: ranking\r\nTransfer-Encoding: chunked\r\n\r\n");
    for (int piece = 0; piece < 300 * 16; ++piece) sendAll(socket, chunk);
    sendAll(socket, "0\r\n\r\n");
    ::shutdown(socket, SHUT_WR);
    const std::string chunkedAnswer = firstStatusLine(socket);
    ::close(socket);

    const std::string line = "X-Flood: " + std::string(8192 - 11, 'h') + "\r\n";
    socket = connectFrom("127.0.0.1", port);
    sendAll(socket, "GET /v1/players/1 HTTP/1.1\r\nHost: ranking\r\n");
    for (int field = 0; field < 65536; ++field) sendAll(socket, line);
    sendAll(socket, "\r\n");
    ::shutdown(socket, SHUT_WR);
    const std::string headerAnswer = firstStatusLine(socket);
    ::close(socket);

    // A chunk size line that never ends: its extensions run on for 300 MiB.
    socket = connectFrom("127.0.0.1", port);
    sendAll(socket, "POST /v1/plays HTTP/1.1\r\nHost: ranking\r\nTransfer-Encoding: chunked\r\n\r\n10;x=");
    const std::string extension(0x10000, 'e');
    for (int piece = 0; piece < 300 * 16; ++piece) sendAll(socket, extension);
    ::shutdown(socket, SHUT_WR);
    const std::string extensionAnswer = firstStatusLine(socket);
    ::close(socket);

    const double peak = peakRssMiB(child);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    std::filesystem::remove_all(folder);
    std::printf("ranking_server_rss_under_attack: %.1f MiB after start; 300 MiB chunked body: \"%s\"; 65536 header "
                "lines of 8 KiB: \"%s\"; a chunk size line of 300 MiB: \"%s\"\n",
                before, chunkedAnswer.c_str(), headerAnswer.c_str(), extensionAnswer.c_str());
    std::printf("figure ranking_server_peak_rss_under_attack value=%.1f unit=MiB\n", peak);
}

}  // namespace

int main() {
    // A connection the server closed is a failed request here, not the end of the benchmark.
    ::signal(SIGPIPE, SIG_IGN);
    // First, while this process has no threads to lose in a fork.
    measureMemoryUnderAttack();

    const std::string chart = denseChart();
    const std::string chartSha = sha256Hex(chart);
    auto parsed = std::make_unique<TsongParser>();
    loadChartFromBytes(*parsed, chart);
    // Every play different, made before the clock starts: the figures are the server's work.
    std::mt19937 random(11);
    Tbodies saturated, paced;
    for (int play = 0; play < saturatedPlays; ++play) saturated.push_back(playBody(*parsed, chartSha, random));
    for (int play = 0; play < pacedPlays; ++play) paced.push_back(playBody(*parsed, chartSha, random));

    char folder[] = "/tmp/bench_ranking_load.XXXXXX";
    if (!::mkdtemp(folder)) return 1;
    bool verified = true;
    {
        TsqliteRankingStore store(std::string(folder) + "/ranking.sqlite3");
        verified = measure(store, "", chart, saturated, paced) && verified;
    }
    std::filesystem::remove_all(folder);
    measureBesideSlowConnections(chart, paced);
    const TbenchPostgresDatabase postgres("load");
    if (!postgres.address().empty()) {
        TpostgresRankingStore store(postgres.address());
        verified = measure(store, "_postgresql", chart, saturated, paced) && verified;
    } else {
        std::printf("ranking_submit_postgresql: skipped, no cluster in TRELLIK_POSTGRES\n");
    }
    return verified ? 0 : 1;
}
