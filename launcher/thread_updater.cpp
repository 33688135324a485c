// The update thread: version check, go-ahead, and the download of the new program with progress.
#include "launcher/thread_updater.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <QMetaObject>

#include "platform/buildNumber.h"
#include "platform/net/downloadFileCode.h"
#include "platform/store/pathResolver.h"
#include "platform/store/sha256.h"

namespace {

void removeFile(const std::string& name) {
    std::remove(resolvePath(name).c_str());
}

std::string readWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("Cannot read " + path + ".");
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::string sha256OfFile(const std::string& path) {
    const std::string digest = fileSha256(path);
    if (digest.empty()) throw std::runtime_error("Cannot read " + path + ".");
    return digest;
}

// A download is only good when it is whole (the size the final reply announced, and the digest
// announced with the build) and is a program of the announced build that can run on this machine.
void verifyDownload(const std::string& path, int64_t announced, const TlatestVersion& latest) {
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    if (error) throw std::runtime_error("Cannot read " + path + ".");
    if (size == 0) throw std::runtime_error("The new program is empty.");
    if (announced >= 0 && size != static_cast<uintmax_t>(announced))
        throw std::runtime_error("The new program arrived with " + std::to_string(size) + " of " +
                                 std::to_string(announced) + " bytes.");
    if (sha256OfFile(path) != latest.sha256) throw std::runtime_error("The new program does not match its digest.");
    if (!isProgramForThisMachine(path)) throw std::runtime_error("The new program is not a program for this machine.");
    const int build = getBuildNumber(path);
    if (build != latest.build)
        throw std::runtime_error("The new program is build " + std::to_string(build) + ", not the announced " +
                                 std::to_string(latest.build) + ".");
}

}  // namespace

TfileDownloaderThread::~TfileDownloaderThread() {
    {
        const std::lock_guard<std::mutex> lock(signalMutex);
        stopping = true;
    }
    signalled.notify_all();
    if (worker.joinable()) worker.join();
}

void TfileDownloaderThread::setTargetWindow(QObject* window, TupdateReceiver updateReceiver) {
    targetWindow = window;
    receiver = std::move(updateReceiver);
}

void TfileDownloaderThread::setExeName(const std::string& path) {
    exeName = path;
}

void TfileDownloaderThread::start(const std::string& serverUrl) {
    if (worker.joinable()) return;
    baseUrl = serverUrl;
    worker = std::thread([this] { run(); });
}

void TfileDownloaderThread::giveGoAhead() {
    {
        const std::lock_guard<std::mutex> lock(signalMutex);
        goAhead = true;
    }
    signalled.notify_all();
}

double TfileDownloaderThread::getProgress() const {
    const int64_t total = bytesTotal.load();
    return total > 0 ? static_cast<double>(bytesReceived.load()) / static_cast<double>(total) : 0.0;
}

void TfileDownloaderThread::run() {
    // Without an update nothing can give the go-ahead, so the thread ends here.
    if (checkForUpdate() && waitForGoAhead()) download();
}

bool TfileDownloaderThread::checkForUpdate() {
    removeFile(updateInfoFile);
    try {
        // A version file is a line of text; anything far larger is not one and is not stored.
        fetchToFile(baseUrl + latestVersionPath, updateInfoFile, updaterUserAgent,
                    [this](uint64_t, uint64_t) { return !stopRequested(); }, textFileSizeCeiling);
        const std::string path = resolvePath(updateInfoFile);
        const std::string bytes = readWholeFile(path);
        std::remove(path.c_str());
        const std::optional<TlatestVersion> version = readLatestVersion(bytes);
        if (!version) throw std::runtime_error("The latest build number is unreadable.");
        latest = *version;
    } catch (const std::exception&) {
        removeFile(updateInfoFile);
        postUpdate(UpdateCode::checkFailed);
        return false;
    }
    const bool newer = latest.build > getBuildNumber(exeName);
    postUpdate(newer ? UpdateCode::updateAvailable : UpdateCode::upToDate);
    return newer;
}

bool TfileDownloaderThread::waitForGoAhead() {
    std::unique_lock<std::mutex> lock(signalMutex);
    signalled.wait(lock, [this] { return goAhead || stopping; });
    return !stopping;
}

void TfileDownloaderThread::download() {
    removeFile(downloadedProgramFile);
    bytesTotal = 0;
    bytesReceived = 0;
    updateDownloading = true;
    try {
        downloadAndVerify(downloadedProgramFile);
    } catch (const std::exception&) {
        removeFile(downloadedProgramFile);
        updateDownloading = false;
        postUpdate(UpdateCode::downloadFailed);
        return;
    }
    updateDownloading = false;
    postUpdate(UpdateCode::downloadDone);
}

void TfileDownloaderThread::downloadAndVerify(const std::string& localPath) {
    // Without the digest of the release nothing tells it from a changed or damaged file.
    if (latest.sha256.empty()) throw std::runtime_error("The update server gave no digest of the new program.");
    const int64_t announced =
        fetchToFile(baseUrl + newProgramPath, localPath, updaterUserAgent,
                    [this](uint64_t size, uint64_t received) { return onDownloadProgress(size, received); },
                    programSizeCeiling);
    verifyDownload(resolvePath(localPath), announced, latest);
}

bool TfileDownloaderThread::onDownloadProgress(uint64_t announced, uint64_t received) {
    // A newly announced size begins the transfer; the size is 0 until the final reply's body flows.
    if (static_cast<int64_t>(announced) != bytesTotal.load())
        downloadWorkBegin(static_cast<int64_t>(announced));
    if (static_cast<int64_t>(received) != bytesReceived.load()) downloadWork(static_cast<int64_t>(received));
    return !stopRequested();
}

void TfileDownloaderThread::downloadWorkBegin(int64_t announced) {
    bytesTotal = announced;
    bytesReceived = 0;
}

void TfileDownloaderThread::downloadWork(int64_t received) {
    bytesReceived = received;
    postUpdate(UpdateCode::downloadProgress);
}

void TfileDownloaderThread::postUpdate(UpdateCode code) {
    if (!targetWindow || !receiver || stopRequested()) return;
    const int message = static_cast<int>(code);
    TupdateReceiver deliver = receiver;
    QMetaObject::invokeMethod(targetWindow, [deliver, message] { deliver(message); }, Qt::QueuedConnection);
}

bool TfileDownloaderThread::stopRequested() const {
    const std::lock_guard<std::mutex> lock(signalMutex);
    return stopping;
}
