// Files of one root folder answered to HTTP GET, with a path check that keeps requests inside it.
#include "tools/updateServer.h"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr size_t streamChunkSize = 64 * 1024;

// Set while a worker thread's current request has been reported by the route handler.
thread_local bool requestReported = false;

std::vector<std::string> pathSegments(const std::string& path) {
    std::vector<std::string> segments;
    std::string current;
    for (const char c : path) {
        if (c == '/' || c == '\\') {
            if (!current.empty()) segments.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) segments.push_back(current);
    return segments;
}

bool isUnsafeSegment(const std::string& segment) {
    return segment == "." || segment == ".." || segment.find('\0') != std::string::npos;
}

bool isInside(const fs::path& folder, const fs::path& candidate) {
    const auto [folderEnd, candidateAt] =
        std::mismatch(folder.begin(), folder.end(), candidate.begin(), candidate.end());
    return folderEnd == folder.end() && candidateAt != candidate.end();
}

std::string contentTypeFor(const std::string& file) {
    static const std::map<std::string, std::string> types = {
        {".txt", "text/plain"}, {".mp3", "audio/mpeg"}, {".jpg", "image/jpeg"},
        {".bmp", "image/bmp"},  {".tga", "image/x-tga"}, {".json", "application/json"},
    };
    const auto found = types.find(fs::path(file).extension().string());
    return found == types.end() ? "application/octet-stream" : found->second;
}

void answerNotFound(httplib::Response& response) {
    response.status = 404;
    response.set_content("Not Found\n", "text/plain");
}

// Streams the file in chunks, so large files need no room in memory.
void answerFile(const std::string& file, httplib::Response& response) {
    auto input = std::make_shared<std::ifstream>(file, std::ios::binary);
    std::error_code error;
    const uintmax_t size = fs::file_size(file, error);
    if (!*input || error) return answerNotFound(response);
    response.status = 200;
    response.set_content_provider(static_cast<size_t>(size), contentTypeFor(file),
                                  [input](size_t offset, size_t length, httplib::DataSink& sink) {
                                      std::vector<char> chunk(std::min(length, streamChunkSize));
                                      input->seekg(static_cast<std::streamoff>(offset));
                                      input->read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
                                      const auto got = static_cast<size_t>(input->gcount());
                                      return got > 0 && sink.write(chunk.data(), got);
                                  });
}

// Announces reply.announcedLength bytes but sends only the body, then drops the connection.
void answerCutShort(const TcannedReply& reply, httplib::Response& response) {
    response.status = reply.status;
    const std::string body = reply.body;
    response.set_content_provider(static_cast<size_t>(reply.announcedLength), "application/octet-stream",
                                  [body](size_t offset, size_t, httplib::DataSink& sink) {
                                      if (offset < body.size()) sink.write(body.data() + offset, body.size() - offset);
                                      return false;
                                  });
}

}  // namespace

std::string requestLogLine(const TservedRequest& request) {
    return request.method + " " + request.path + " \"" + request.userAgent + "\" " + std::to_string(request.status);
}

std::string servedFilePath(const std::string& root, const std::string& requestPath) {
    const std::vector<std::string> segments = pathSegments(requestPath);
    fs::path candidate(root);
    for (const std::string& segment : segments) {
        if (isUnsafeSegment(segment)) return "";
        candidate /= segment;
    }
    std::error_code error;
    const fs::path realRoot = fs::canonical(root, error);
    if (error) return "";
    const fs::path realFile = fs::canonical(candidate, error);
    if (error || !isInside(realRoot, realFile) || !fs::is_regular_file(realFile, error)) return "";
    return realFile.string();
}

TupdateServer::TupdateServer(const std::string& rootFolder)
    : root(rootFolder), server(std::make_unique<httplib::Server>()) {
    // Without SO_REUSEPORT a second server on a taken port fails instead of sharing it.
    server->set_socket_options([this](int socket) {
        int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        listeningSocket = socket;
    });
    server->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        answer(request, response);
        // Reported before the reply goes out, so a client that has its reply can rely on the record.
        report(request, response);
        requestReported = true;
    });
    // Requests the library answers itself (malformed ones, other methods) are reported afterwards.
    server->set_logger([this](const httplib::Request& request, const httplib::Response& response) {
        if (!requestReported) report(request, response);
        requestReported = false;
    });
}

TupdateServer::~TupdateServer() {
    stop();
}

int TupdateServer::bind(int port) {
    std::error_code error;
    if (!fs::is_directory(root, error)) throw std::runtime_error("The folder to serve, " + root + ", does not exist.");
    const int bound = port == 0                                   ? server->bind_to_any_port("127.0.0.1")
                      : server->bind_to_port("127.0.0.1", port) ? port
                                                                : -1;
    if (bound <= 0) throw std::runtime_error("Cannot listen on 127.0.0.1 port " + std::to_string(port) + ".");
    return bound;
}

void TupdateServer::serve() {
    server->listen_after_bind();
}

void TupdateServer::stop() {
    // Shutting the listening socket down refuses new connections at once and ends the accept
    // loop, also one that has not begun yet, where the library's own stop would be lost.
    const int socket = listeningSocket.exchange(-1);
    if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
    server->stop();
}

void TupdateServer::setRequestObserver(std::function<void(const TservedRequest&)> requestObserver) {
    observer = std::move(requestObserver);
}

void TupdateServer::setCannedReply(const std::string& path, const TcannedReply& reply) {
    const std::lock_guard<std::mutex> lock(cannedMutex);
    cannedReplies[path] = reply;
}

bool TupdateServer::answerCanned(const std::string& path, httplib::Response& response) {
    TcannedReply reply;
    {
        const std::lock_guard<std::mutex> lock(cannedMutex);
        const auto found = cannedReplies.find(path);
        if (found == cannedReplies.end()) return false;
        reply = found->second;
    }
    if (reply.announcedLength > reply.body.size()) {
        answerCutShort(reply, response);
    } else {
        response.status = reply.status;
        response.set_content(reply.body, "application/octet-stream");
    }
    return true;
}

void TupdateServer::report(const httplib::Request& request, const httplib::Response& response) const {
    if (observer) observer({request.method, request.path, request.get_header_value("User-Agent"), response.status});
}

void TupdateServer::answer(const httplib::Request& request, httplib::Response& response) {
    if (answerCanned(request.path, response)) return;
    const std::string file = servedFilePath(root, request.path);
    if (file.empty()) return answerNotFound(response);
    answerFile(file, response);
}
