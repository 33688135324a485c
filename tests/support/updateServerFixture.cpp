// The in-process update server for tests: started on construction, stopped on destruction.
#include "tests/support/updateServerFixture.h"

#include <chrono>

namespace {

std::string asRequestPath(const std::string& path) {
    return path.empty() || path[0] != '/' ? "/" + path : path;
}

}  // namespace

TupdateServerFixture::TupdateServerFixture(const std::string& rootFolder) : server(rootFolder) {
    server.setRequestObserver([this](const TservedRequest& request) {
        {
            const std::lock_guard<std::mutex> lock(requestsMutex);
            answered.push_back(request);
        }
        requestAnswered.notify_all();
    });
    boundPort = server.bind(0);
    url = "http://127.0.0.1:" + std::to_string(boundPort) + "/";
    serving = std::thread([this] { server.serve(); });
}

TupdateServerFixture::~TupdateServerFixture() {
    stop();
}

std::vector<TservedRequest> TupdateServerFixture::requests() const {
    const std::lock_guard<std::mutex> lock(requestsMutex);
    return answered;
}

std::vector<TservedRequest> TupdateServerFixture::waitForRequests(size_t count) const {
    std::unique_lock<std::mutex> lock(requestsMutex);
    // The limit only keeps a broken test from hanging the whole run.
    requestAnswered.wait_for(lock, std::chrono::minutes(1), [&] { return answered.size() >= count; });
    return answered;
}

void TupdateServerFixture::failWith(const std::string& path, int status) {
    server.setCannedReply(asRequestPath(path), {status, "failure " + std::to_string(status) + "\n", 0});
}

void TupdateServerFixture::cutShort(const std::string& path, const std::string& sentBytes, uint64_t announcedLength) {
    server.setCannedReply(asRequestPath(path), {200, sentBytes, announcedLength});
}

void TupdateServerFixture::stop() {
    server.stop();
    if (serving.joinable()) serving.join();
}
