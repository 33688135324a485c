// A bounded load on the ranking server over loopback: 64 clients submitting 1000-press plays, each
// judged by the server and kept in its SQLite file. Prints throughput and per-play latency.
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/playFigures.h"
#include "engine/playJudge.h"
#include "platform/store/sha256.h"
#include "ranking/rankingServer.h"
#include "ranking/rankingSqliteStore.h"

namespace {

using nlohmann::json;
using steadyClock = std::chrono::steady_clock;

constexpr int clientCount = 64;
constexpr int pressCount = 1000;
// The load stops at whichever comes first.
constexpr int playLimit = 4000;
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
    for (const TjudgePress& press : presses) list.push_back({press.panel, press.musicMs});
    const int32_t score = judgePlay(chart, TtimingConstants{}, 0, presses).score;
    return json{{"chart_sha256", sha256}, {"difficulty", 2},        {"rate", 1.0},      {"audio_offset", 0},
                {"visual_offset", 0},     {"claimed_score", score}, {"presses", list}}
        .dump();
}

struct Tload {
    std::mutex mutex;
    std::vector<double> latenciesMs;
    std::atomic<int> started{0};
    std::atomic<int> failures{0};
};

// A client with its connection open, so the load measures submissions and not connecting: the
// library's listen queue is short, and a burst of new connections waits on the kernel's retries.
std::unique_ptr<httplib::Client> connectedClient(int port) {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
    client->set_keep_alive(true);
    client->set_tcp_nodelay(true);
    client->set_tcp_nodelay(true);
    client->Get("/v1/players/1");
    return client;
}

void runClient(httplib::Client& client, const std::string& token, const std::vector<std::string>& bodies, Tload& load,
               steadyClock::time_point deadline) {
    const httplib::Headers headers = {{"Authorization", "Bearer " + token}};
    for (size_t next = 0; load.started.fetch_add(1) < playLimit && steadyClock::now() < deadline; ++next) {
        const auto start = steadyClock::now();
        const std::string& body = bodies[next % bodies.size()];
        const httplib::Result result = client.Post("/v1/plays", headers, body, "application/json");
        const double ms = std::chrono::duration<double, std::milli>(steadyClock::now() - start).count();
        if (!result || result->status != 200 || result->body.find("\"verified\"") == std::string::npos) {
            if (load.failures++ < 3)
                std::fprintf(stderr, "bench_ranking_load: %s\n",
                             result ? result->body.substr(0, 200).c_str() : httplib::to_string(result.error()).c_str());
        }
        const std::lock_guard<std::mutex> lock(load.mutex);
        load.latenciesMs.push_back(ms);
    }
}

}  // namespace

int main() {
    char folder[] = "/tmp/bench_ranking_load.XXXXXX";
    if (!::mkdtemp(folder)) return 1;
    const std::string chart = denseChart();
    const std::string chartSha = sha256Hex(chart);
    auto parsed = std::make_unique<TsongParser>();
    loadChartFromBytes(*parsed, chart);

    TrankingLimits limits;
    limits.requestsPerMinute = 1000000;
    TsqliteRankingStore store(std::string(folder) + "/ranking.sqlite3");
    TrankingServer server(store, limits);
    const int port = server.bind("127.0.0.1", 0);
    std::thread serving([&server] { server.serve(); });

    httplib::Client setup("127.0.0.1", port);
    std::vector<std::string> tokens;
    for (int client = 0; client < clientCount; ++client) {
        const std::string body = json{{"name", "load " + std::to_string(client)}}.dump();
        const auto reply = setup.Post("/v1/players", body, "application/json");
        tokens.push_back(reply ? json::parse(reply->body, nullptr, false).value("token", "") : "");
    }
    setup.Put("/v1/charts/" + chartSha, {{"Authorization", "Bearer " + tokens[0]}}, chart, "text/plain");
    // Every play different, made before the clock starts: the figures are the server's work.
    std::mt19937 random(11);
    std::vector<std::vector<std::string>> bodies(clientCount);
    for (int play = 0; play < playLimit; ++play)
        bodies[play % clientCount].push_back(playBody(*parsed, chartSha, random));

    std::vector<std::unique_ptr<httplib::Client>> connections;
    for (int client = 0; client < clientCount; ++client) connections.push_back(connectedClient(port));
    Tload load;
    const auto start = steadyClock::now();
    const auto deadline =
        start + std::chrono::duration_cast<steadyClock::duration>(std::chrono::duration<double>(secondsLimit));
    std::vector<std::thread> clients;
    for (int client = 0; client < clientCount; ++client)
        clients.emplace_back(runClient, std::ref(*connections[client]), std::cref(tokens[client]),
                             std::cref(bodies[client]), std::ref(load), deadline);
    for (std::thread& client : clients) client.join();
    const double seconds = std::chrono::duration<double>(steadyClock::now() - start).count();
    connections.clear();
    server.stop();
    serving.join();

    const size_t plays = load.latenciesMs.size();
    std::printf("ranking_submit: %zu plays of %d presses by %d clients in %.2f s, %d not verified\n", plays, pressCount,
                clientCount, seconds, load.failures.load());
    std::printf("figure ranking_submit_throughput value=%.0f unit=plays/s\n", plays / seconds);
    printFigure("ranking_submit_latency", load.latenciesMs);
    std::filesystem::remove_all(folder);
    return load.failures.load() == 0 ? 0 : 1;
}
