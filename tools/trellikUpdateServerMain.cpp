// trellik-update-server --root DIR --port N: serves the stock folder to the game on 127.0.0.1.
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/net/portNumber.h"
#include "platform/net/serverSignals.h"
#include "tools/updateServer.h"

namespace {

struct TserverOptions {
    std::string root;
    int port = -1;
};

[[noreturn]] void usage(const std::string& complaint) {
    std::cerr << "trellik-update-server: " << complaint << "\n"
              << "usage: trellik-update-server --root DIR --port N   (port 0 picks a free one)\n";
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
        if (name == "--root") options.root = value;
        else if (name == "--port") options.port = parsePort(value);
        else usage("unknown option " + name);
    }
    if (options.root.empty()) usage("--root is missing");
    if (options.port < 0) usage("--port is missing");
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const TserverOptions options = parseOptions(argc, argv);
    const sigset_t signals = blockStopSignals();

    TupdateServer server(options.root);
    std::mutex outputMutex;
    server.setRequestObserver([&outputMutex](const TservedRequest& request) {
        const std::lock_guard<std::mutex> lock(outputMutex);
        std::cout << requestLogLine(request) << std::endl;
    });
    int port = 0;
    try {
        port = server.bind(options.port);
    } catch (const std::exception& error) {
        std::cerr << "trellik-update-server: " << error.what() << "\n";
        return 1;
    }
    std::cout << "listening on http://127.0.0.1:" << port << "/" << std::endl;
    serveUntilStopSignal(signals, [&server] { server.serve(); }, [&server] { server.stop(); });
    return 0;
}
