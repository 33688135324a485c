// How the project's servers stop: SIGINT and SIGTERM taken by a thread of their own, not a handler.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <functional>
#include <thread>

// Blocks SIGINT and SIGTERM for the calling thread and every thread started after it, so that only
// the watcher takes them: call it first in main.
inline sigset_t blockStopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

// Runs serve until it returns, calling stop when one of the blocked signals arrives meanwhile.
inline void serveUntilStopSignal(const sigset_t& signals, const std::function<void()>& serve,
                                 const std::function<void()>& stop) {
    std::thread watcher([&stop, signals] {
        int received = 0;
        sigwait(&signals, &received);
        stop();
    });
    serve();
    // Wakes the watcher when serving ended on its own; after a signal this one stays pending.
    ::kill(::getpid(), SIGTERM);
    watcher.join();
}
