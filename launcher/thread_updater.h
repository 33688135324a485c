// The update thread: asks the update server for the latest build and downloads it on request.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include <QObject>

#include "content/latestVersionCode.h"

// What the update thread reports to the launcher, in the order it happens.
enum class UpdateCode : int {
    downloadFailed = 0,
    checkFailed = 1,
    downloadDone = 2,
    upToDate = 3,
    updateAvailable = 4,
    downloadProgress = 5,
};

// Receives one update code on the launcher's thread.
using TupdateReceiver = std::function<void(int code)>;

// Local and server names of the self-update (the platform's executables carry no suffix).
inline constexpr const char* updateInfoFile = "updateinfo.txt";
inline constexpr const char* latestVersionPath = "latestVersion.txt";
inline constexpr const char* newProgramPath = "TrellikGL";
inline constexpr const char* downloadedProgramFile = "TrellikGL_tmp";
inline constexpr const char* programFile = "TrellikGL38";
inline constexpr const char* replacedProgramFile = "TrellikGL38_old";
inline constexpr const char* updaterUserAgent = "Trellik-Updater/1.0";

// Checks for a newer build once, then waits for the go-ahead and downloads it into
// "TrellikGL_tmp". Created idle; start() begins the check. Destroying it stops and joins it.
class TfileDownloaderThread {
public:
    TfileDownloaderThread() = default;
    ~TfileDownloaderThread();
    TfileDownloaderThread(const TfileDownloaderThread&) = delete;
    TfileDownloaderThread& operator=(const TfileDownloaderThread&) = delete;

    // Update codes arrive at receiver as queued calls on window's thread, in posting order.
    // The window must outlive this object (the launcher owns it).
    void setTargetWindow(QObject* window, TupdateReceiver receiver);
    // The running program, whose build number is compared with the server's.
    void setExeName(const std::string& path);
    // Begins the check against the update server at serverUrl (ending in "/"); once only.
    void start(const std::string& serverUrl);
    // Lets the thread go on from its wait with the download; a go-ahead given before it waits
    // is kept.
    void giveGoAhead();

    // The fraction of the new program received: 0 while its size is unknown or 0.
    double getProgress() const;

    // Bytes of the new program received so far, and its size as announced when it began.
    std::atomic<int64_t> bytesReceived{0};
    std::atomic<int64_t> bytesTotal{0};
    // Set while the new program is being transferred; the start button waits for it.
    std::atomic<bool> updateDownloading{false};

private:
    void run();
    bool checkForUpdate();
    bool waitForGoAhead();
    void download();
    void downloadAndVerify(const std::string& localPath);
    // What libcurl reports during the download; false abandons it.
    bool onDownloadProgress(uint64_t announced, uint64_t received);
    void downloadWorkBegin(int64_t announced);
    void downloadWork(int64_t received);
    void postUpdate(UpdateCode code);
    bool stopRequested() const;

    QObject* targetWindow = nullptr;
    TupdateReceiver receiver;
    std::string exeName;
    std::string baseUrl;
    TlatestVersion latest;

    mutable std::mutex signalMutex;
    std::condition_variable signalled;
    bool goAhead = false;
    bool stopping = false;
    std::thread worker;
};

// Whether the player may put a new program in place of the one at path: it is not installed (an
// installed game is updated by its package manager, however its bin/ is set up) and the file and
// its folder are writable.
bool canReplaceProgram(const std::string& path);

// How long a new program has to answer --version before it is taken for one that does not run.
inline constexpr uint32_t programAnswerLimitMs = 10000;

// The time a started program has left to answer, in milliseconds of any steady clock.
struct TanswerDeadline {
    uint64_t startMs;
    uint32_t limitMs;
    // 0 once the limit has passed.
    uint32_t remainingMs(uint64_t nowMs) const {
        const uint64_t passed = nowMs - startMs;
        return passed >= limitMs ? 0 : static_cast<uint32_t>(limitMs - passed);
    }
};

// Puts the downloaded program in place of the running one, in the running one's folder: checks
// that "TrellikGL_tmp" is a program for this machine with a build number and gives it its run bit,
// keeps the running program as "TrellikGL38_old" beside it (replacing an older one) and puts
// "TrellikGL_tmp" under the running program's name. The new program must then answer --version
// with its build number within answerLimitMs, and is started detached in the working directory.
// Returns "" once the new program runs, else why not; after a failure the running program has its
// own name and file again. An installed program is never replaced.
std::string replaceAndStartProgram(const std::string& runningProgram, uint32_t answerLimitMs = programAnswerLimitMs);
