// trellik-ranking-server [--listen ADDRESS] [--port N] [--database FILE|postgresql://…] [--connections N]
// [--connections-per-address N]: judges and ranks plays.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/net/portNumber.h"
#include "platform/net/serverSignals.h"
#include "ranking/rankingConnectionGate.h"
#include "ranking/rankingPostgresStore.h"
#include "ranking/rankingServer.h"
#include "ranking/rankingSqliteStore.h"

namespace {

struct TserverOptions {
    std::string address = "127.0.0.1";
    int port = 8090;
    std::string database = "trellik-ranking.sqlite3";
    TtransportLimits transport;
};

[[noreturn]] void usage(const std::string& complaint) {
    std::cerr << "trellik-ranking-server: " << complaint << "\n"
              << "usage: trellik-ranking-server [--listen ADDRESS] [--port N] [--database FILE|postgresql://...]\n"
              << "                              [--connections N] [--connections-per-address N]\n"
              << "                              [--trusted-proxy ADDRESS]\n"
              << "  defaults: --listen 127.0.0.1 --port 8090 --database trellik-ranking.sqlite3\n"
              << "            --connections 512 --connections-per-address 32 (0: only the overall cap)\n";
    std::exit(2);
}

int parsePort(const std::string& text) {
    const std::optional<int> port = portNumberFromText(text);
    if (!port) usage("the port \"" + text + "\" is not a number from 0 to 65535");
    return *port;
}

// A connection cap: a whole number from lowest to a million.
size_t parseCap(const std::string& name, const std::string& text, long long lowest) {
    size_t used = 0;
    long long cap = -1;
    try {
        cap = std::stoll(text, &used);
    } catch (const std::exception&) {
        cap = -1;
    }
    if (used != text.size() || cap < lowest || cap > 1000000)
        usage(name + " takes a whole number from " + std::to_string(lowest) + " to 1000000");
    return static_cast<size_t>(cap);
}

TserverOptions parseOptions(int argc, char** argv) {
    TserverOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) usage(name + " needs a value");
        const std::string value = argv[++i];
        if (name == "--listen") options.address = value;
        else if (name == "--port") options.port = parsePort(value);
        else if (name == "--database") options.database = value;
        else if (name == "--connections") options.transport.maxConnections = parseCap(name, value, 1);
        else if (name == "--connections-per-address")
            options.transport.maxConnectionsPerAddress = parseCap(name, value, 0);
        else if (name == "--trusted-proxy") options.transport.trustedProxy = value;
        else usage("unknown option " + name);
    }
    return options;
}

bool isPostgresAddress(const std::string& database) {
    return database.rfind("postgresql://", 0) == 0 || database.rfind("postgres://", 0) == 0;
}

std::unique_ptr<TrankingStore> openStore(const std::string& database) {
    if (isPostgresAddress(database)) return std::make_unique<TpostgresRankingStore>(database);
    return std::make_unique<TsqliteRankingStore>(database);
}

// The address as printed: a PostgreSQL address without its password.
std::string shownDatabase(const std::string& database) {
    if (!isPostgresAddress(database)) return database;
    const size_t at = database.find('@');
    const size_t colon = database.find(':', database.find("://") + 3);
    if (at == std::string::npos || colon == std::string::npos || colon > at) return database;
    return database.substr(0, colon) + ":***" + database.substr(at);
}

// Every open connection holds a descriptor: allow as many as the system lets this process have, and
// returns how many that is.
size_t raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return std::numeric_limits<size_t>::max();
    if (limit.rlim_cur < limit.rlim_max) {
        const rlim_t before = limit.rlim_cur;
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) limit.rlim_cur = before;
    }
    if (limit.rlim_cur == RLIM_INFINITY) return std::numeric_limits<size_t>::max();
    return static_cast<size_t>(limit.rlim_cur);
}

// Lowers the connection cap to what the descriptor limit allows, and says so.
void fitConnectionsToDescriptors(TtransportLimits& transport, size_t descriptorLimit) {
    const size_t fitting = connectionCapWithin(transport.maxConnections, descriptorLimit);
    if (fitting == transport.maxConnections) return;
    std::cerr << "trellik-ranking-server: only " << descriptorLimit << " file descriptors allowed; serving at most "
              << fitting << " connections instead of " << transport.maxConnections << "\n";
    transport.maxConnections = fitting;
}

}  // namespace

int main(int argc, char** argv) {
    TserverOptions options = parseOptions(argc, argv);
    const sigset_t signals = blockStopSignals();
    fitConnectionsToDescriptors(options.transport, raiseDescriptorLimit());

    std::unique_ptr<TrankingStore> store;
    std::unique_ptr<TrankingServer> server;
    int port = 0;
    try {
        store = openStore(options.database);
        server = std::make_unique<TrankingServer>(*store, TrankingLimits{}, options.transport);
        port = server->bind(options.address, options.port);
    } catch (const std::exception& error) {
        std::cerr << "trellik-ranking-server: " << error.what() << "\n";
        return 1;
    }
    std::cout << "listening on http://" << options.address << ":" << port << "/ with " << shownDatabase(options.database)
              << std::endl;
    serveUntilStopSignal(signals, [&server] { server->serve(); }, [&server] { server->stop(); });
    return 0;
}
