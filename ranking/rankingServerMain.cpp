// trellik-ranking-server [--listen ADDRESS] [--port N] [--database FILE|postgresql://…]: judges and ranks plays.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/net/portNumber.h"
#include "platform/net/serverSignals.h"
#include "ranking/rankingPostgresStore.h"
#include "ranking/rankingServer.h"
#include "ranking/rankingSqliteStore.h"

namespace {

struct TserverOptions {
    std::string address = "127.0.0.1";
    int port = 8090;
    std::string database = "trellik-ranking.sqlite3";
};

[[noreturn]] void usage(const std::string& complaint) {
    std::cerr << "trellik-ranking-server: " << complaint << "\n"
              << "usage: trellik-ranking-server [--listen ADDRESS] [--port N] [--database FILE|postgresql://...]\n"
              << "  defaults: --listen 127.0.0.1 --port 8090 --database trellik-ranking.sqlite3\n";
    std::exit(2);
}

int parsePort(const std::string& text) {
    const std::optional<int> port = portNumberFromText(text);
    if (!port) usage("the port \"" + text + "\" is not a number from 0 to 65535");
    return *port;
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

}  // namespace

int main(int argc, char** argv) {
    const TserverOptions options = parseOptions(argc, argv);
    const sigset_t signals = blockStopSignals();

    std::unique_ptr<TrankingStore> store;
    std::unique_ptr<TrankingServer> server;
    int port = 0;
    try {
        store = openStore(options.database);
        server = std::make_unique<TrankingServer>(*store, TrankingLimits{});
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
