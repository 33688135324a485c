// What the self-update tests share: a launcher in a sandbox against an embedded update server,
// with every update code it receives recorded.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QEventLoop>
#include <QTimer>

#include "launcher/thread_updater.h"
#include "platform/net/downloadFileCode.h"
#include "tests/launcher/launcherTestSupport.h"
#include "tests/support/updateServerFixture.h"

// The stand-in programs: build 62 (the release) and build 63 (the newer one).
inline std::string standinProgram() {
    return builtProgram("tests/trellik_standin");
}
inline std::string newerStandinProgram() {
    return builtProgram("tests/trellik_standin_63");
}

inline const QColor statusRed(255, 0, 0);
inline const QColor statusGreen(0, 128, 0);
inline const QColor statusBlue(0, 0, 255);

class TupdateRig {
public:
    TupdateRig() : server(serverRoot.path()) {
        setUpdateServerUrl(server.baseUrl());
        windows = std::make_unique<TlauncherWindows>();
        form().updateThread.setTargetWindow(&form(), [this](int code) { receive(code); });
        runAs(standinProgram());
    }
    ~TupdateRig() {
        windows.reset();
        setUpdateServerUrl(defaultUpdateServerUrl());
    }

    TloadingForm& form() { return windows->loadingForm; }
    void serve(const std::string& name, const std::string& bytes) { writeFile(serverRoot.file(name), bytes); }
    // The program the launcher takes itself to be (its build number and the file it replaces).
    void runAs(const std::string& program) {
        form().exeName = program;
        form().updateThread.setExeName(program);
    }
    // The show step: the check begins.
    void show() { form().show(); }

    // Runs the event loop until done() holds; false if a minute passed first (a broken test).
    bool waitUntil(const std::function<bool()>& done) {
        if (done()) return true;
        QEventLoop loop;
        wake = [&] {
            if (done()) loop.quit();
        };
        QTimer::singleShot(std::chrono::minutes(1), &loop, &QEventLoop::quit);
        loop.exec();
        wake = nullptr;
        return done();
    }
    bool waitFor(UpdateCode code) {
        return waitUntil([this, code] { return received(code); });
    }
    bool received(UpdateCode code) const {
        return std::find(codes.begin(), codes.end(), static_cast<int>(code)) != codes.end();
    }

    TlauncherSandbox sandbox;
    TtemporaryFolder serverRoot;
    TupdateServerFixture server;
    std::unique_ptr<TlauncherWindows> windows;
    // Every code in the order it arrived, and the status text right after the launcher took it.
    std::vector<int> codes;
    std::vector<QString> statusTexts;
    // Runs after the launcher handled each code.
    std::function<void(int code)> afterCode;

private:
    void receive(int code) {
        codes.push_back(code);
        form().onUpdateMessage(code);
        statusTexts.push_back(form().statusText());
        if (afterCode) afterCode(code);
        if (wake) wake();
    }

    std::function<void()> wake;
};

// A FIFO in the working directory through which a started stand-in says that it ran.
class TstandinListener {
public:
    TstandinListener() {
        ::mkfifo("standin.fifo", 0600);
        reader = ::open("standin.fifo", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    ~TstandinListener() {
        if (reader >= 0) ::close(reader);
        std::filesystem::remove("standin.fifo");
    }
    // The stand-in's line ("ran arguments=N folder=F"), or "" if none came within a minute.
    std::string line() const {
        pollfd waiting{reader, POLLIN, 0};
        if (::poll(&waiting, 1, 60000) <= 0) return "";
        char buffer[4096] = {};
        const ssize_t got = ::read(reader, buffer, sizeof(buffer) - 1);
        return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : "";
    }

private:
    int reader = -1;
};

// Sets an environment variable while it lives (children started meanwhile see it).
class TenvironmentSetting {
public:
    TenvironmentSetting(const char* variable, const char* value) : name(variable) { ::setenv(name, value, 1); }
    ~TenvironmentSetting() { ::unsetenv(name); }
    TenvironmentSetting(const TenvironmentSetting&) = delete;
    TenvironmentSetting& operator=(const TenvironmentSetting&) = delete;

private:
    const char* name;
};

inline bool isExecutable(const std::string& path) {
    return ::access(path.c_str(), X_OK) == 0;
}

// Names in the working directory that begin with prefix.
inline std::vector<std::string> filesStartingWith(const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) found.push_back(entry.path().filename().string());
    return found;
}
