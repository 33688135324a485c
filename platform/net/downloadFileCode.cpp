// The update server's address and HTTP GET of one file into place with libcurl.
#include "platform/net/downloadFileCode.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "platform/window/globalConsoleCode.h"
#include "platform/store/pathResolver.h"
#include "platform/net/transferLimits.h"

namespace {

std::string serverUrl;

// A transfer writes to the target's name followed by this, the process number, "-" and a serial.
constexpr std::string_view partialMark = ".part-";
constexpr const char* partialFileMask = "*.part-*";

std::string withTrailingSlash(std::string url) {
    if (url.empty() || url.back() != '/') url += '/';
    return url;
}

[[noreturn]] void failDownload(const std::string& url, const std::string& reason) {
    throw std::runtime_error("Could not download " + url + ": " + reason + ".");
}

// A temporary file beside the target; it becomes the target on commit and is removed otherwise.
class TpartialFile {
public:
    TpartialFile(const std::string& url, const std::string& localPath) : url(url) {
        if (!createParentFolders(localPath)) failDownload(url, "cannot create the folder for " + localPath);
        targetPath = resolvePath(localPath);
        open();
    }
    ~TpartialFile() {
        if (file) std::fclose(file);
        if (!temporaryPath.empty()) std::remove(temporaryPath.c_str());
    }
    TpartialFile(const TpartialFile&) = delete;
    TpartialFile& operator=(const TpartialFile&) = delete;

    std::FILE* stream() const { return file; }

    void commit() {
        std::FILE* closing = file;
        file = nullptr;
        if (std::fclose(closing) != 0) failDownload(url, "cannot write " + temporaryPath + ": " + std::strerror(errno));
        if (std::rename(temporaryPath.c_str(), targetPath.c_str()) != 0)
            failDownload(url, "cannot put the file in place as " + targetPath + ": " + std::strerror(errno));
        temporaryPath.clear();
    }

private:
    void open() {
        static std::atomic<unsigned> serial{0};
        for (;;) {
            temporaryPath =
                targetPath + std::string(partialMark) + std::to_string(::getpid()) + "-" + std::to_string(serial++);
            const int descriptor = ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (descriptor >= 0) {
                file = ::fdopen(descriptor, "wb");
                if (file) return;
                ::close(descriptor);
            }
            if (errno != EEXIST) {
                const std::string reason = std::strerror(errno);
                std::remove(temporaryPath.c_str());
                temporaryPath.clear();
                failDownload(url, "cannot create a file beside " + targetPath + ": " + reason);
            }
        }
    }

    std::string url;
    std::string targetPath;
    std::string temporaryPath;
    std::FILE* file = nullptr;
};

uint64_t steadyMilliseconds() {
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
}

std::string durationText(uint32_t milliseconds) {
    if (milliseconds % 1000 == 0) return std::to_string(milliseconds / 1000) + " seconds";
    return std::to_string(milliseconds) + " ms";
}

std::string sizeText(uint64_t bytes) {
    constexpr uint64_t mebibyte = 1 << 20;
    if (bytes % mebibyte == 0) return std::to_string(bytes / mebibyte) + " MiB";
    return std::to_string(bytes) + " bytes";
}

// What the curl callbacks need during one transfer.
struct Ttransfer {
    Ttransfer(CURL* curl, std::FILE* file, const TdownloadProgress* progress, const TtransferLimits& limits,
              uint64_t sizeCeiling)
        : curl(curl), file(file), progress(progress), limits(limits), sizeCeiling(sizeCeiling),
          silence(limits.silenceMs, steadyMilliseconds()) {}

    CURL* curl;
    std::FILE* file;
    const TdownloadProgress* progress;
    TtransferLimits limits;
    uint64_t sizeCeiling;
    TsilenceWatch silence;
    // Body bytes of the reply being received; a redirect's reply has none of its own.
    uint64_t bodyBytes = 0;
    bool replyHasBegun = false;
    bool wentSilent = false;
    bool tooLarge = false;
    int writeError = 0;
};

// The length the reply being received announced, or -1 when it gave none.
int64_t announcedLength(CURL* curl) {
    curl_off_t length = -1;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) return -1;
    return static_cast<int64_t>(length);
}

// A reply may not exceed the ceiling, neither in what it announces nor in what it sends.
bool staysUnderCeiling(Ttransfer& transfer, size_t arriving) {
    const int64_t announced = transfer.bodyBytes == 0 ? announcedLength(transfer.curl) : -1;
    transfer.tooLarge = (announced > 0 && static_cast<uint64_t>(announced) > transfer.sizeCeiling) ||
                        arriving > transfer.sizeCeiling - transfer.bodyBytes;
    return !transfer.tooLarge;
}

size_t writeBody(char* data, size_t size, size_t count, void* context) {
    auto* transfer = static_cast<Ttransfer*>(context);
    transfer->silence.bytesArrived(steadyMilliseconds());
    transfer->replyHasBegun = true;
    if (!staysUnderCeiling(*transfer, size * count)) return 0;
    const size_t written = std::fwrite(data, size, count, transfer->file);
    if (written != count) transfer->writeError = errno ? errno : EIO;
    transfer->bodyBytes += written * size;
    return written * size;
}

// Header lines count as signs of life too, so a server that is still answering is not cut off.
// A status line begins a new reply, so what an earlier one (a redirect) announced is forgotten.
size_t noteHeader(char* data, size_t size, size_t count, void* context) {
    auto* transfer = static_cast<Ttransfer*>(context);
    transfer->silence.bytesArrived(steadyMilliseconds());
    if (size * count >= 5 && std::memcmp(data, "HTTP/", 5) == 0) transfer->replyHasBegun = false;
    return size * count;
}

// Called by curl whenever data arrives and about once a second while none does. The size is
// passed on only once the final reply's body flows, as curl may still hold a redirect's before.
int reportProgress(void* context, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Ttransfer*>(context);
    if (transfer->silence.silentTooLong(steadyMilliseconds())) {
        transfer->wentSilent = true;
        return 1;
    }
    if (!transfer->progress || !*transfer->progress) return 0;
    const int64_t announced = transfer->replyHasBegun ? announcedLength(transfer->curl) : 0;
    const bool goOn = (*transfer->progress)(static_cast<uint64_t>(std::max<int64_t>(announced, 0)),
                                            static_cast<uint64_t>(received));
    return goOn ? 0 : 1;
}

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// One curl handle, released however the transfer ends.
class TcurlHandle {
public:
    TcurlHandle() {
        initialiseCurlOnce();
        handle = curl_easy_init();
        if (!handle) throw std::runtime_error("Could not start the HTTP client.");
    }
    ~TcurlHandle() { curl_easy_cleanup(handle); }
    TcurlHandle(const TcurlHandle&) = delete;
    TcurlHandle& operator=(const TcurlHandle&) = delete;
    CURL* get() const { return handle; }

private:
    CURL* handle;
};

void configureRequest(CURL* curl, const std::string& url, const std::string& userAgent, Ttransfer& transfer,
                      char* errorText) {
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, userAgent.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // A secure request is never redirected to a plain one.
    const bool secure = url.rfind("https:", 0) == 0;
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    // A local server is always reached directly, whatever proxy the environment names.
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // No overall limit (files can be large and lines slow); only a connection that cannot be
    // made or a server gone silent is given up on, the latter by the progress callback.
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(transfer.limits.connectMs));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, noteHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, reportProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
}

void checkOutcome(CURL* curl, CURLcode result, const Ttransfer& transfer, const std::string& url,
                  const char* errorText) {
    if (transfer.writeError)
        failDownload(url, std::string("cannot write the file: ") + std::strerror(transfer.writeError));
    if (transfer.tooLarge) failDownload(url, "the file is larger than " + sizeText(transfer.sizeCeiling));
    if (transfer.wentSilent) failDownload(url, "the server sent nothing for " + durationText(transfer.limits.silenceMs));
    if (result == CURLE_ABORTED_BY_CALLBACK) failDownload(url, "the transfer was cancelled");
    if (result != CURLE_OK) failDownload(url, *errorText ? errorText : curl_easy_strerror(result));
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) failDownload(url, "the server answered with status " + std::to_string(status));
}

bool allDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The process that wrote a temporary download file, read from its name.
std::optional<pid_t> writerOfPartialFile(std::string_view name) {
    const size_t mark = name.rfind(partialMark);
    if (mark == std::string_view::npos || mark == 0) return std::nullopt;
    const std::string_view numbers = name.substr(mark + partialMark.size());
    const size_t dash = numbers.find('-');
    // Process numbers are short; a longer run of digits is not a name this program gave.
    if (dash == std::string_view::npos || dash > 9 || !allDigits(numbers.substr(0, dash)) ||
        !allDigits(numbers.substr(dash + 1)))
        return std::nullopt;
    return static_cast<pid_t>(std::stol(std::string(numbers.substr(0, dash))));
}

bool processHasEnded(pid_t process) {
    return process != ::getpid() && ::kill(process, 0) != 0 && errno == ESRCH;
}

// The name of the file a temporary download file was to become.
std::string_view partialFileTarget(std::string_view name) {
    return name.substr(0, name.rfind(partialMark));
}

bool sameNameIgnoringCase(std::string_view left, const std::string& right) {
    return left.size() == right.size() && ::strncasecmp(left.data(), right.data(), left.size()) == 0;
}

void removeIfLeftover(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error))) return;
    const std::optional<pid_t> writer = writerOfPartialFile(std::filesystem::path(path).filename().string());
    if (writer && processHasEnded(*writer)) std::filesystem::remove(path, error);
}

bool needsEscape(unsigned char c) {
    return c <= 0x20 || c >= 0x7F || std::strchr("\"<>^`{|}", c) != nullptr;
}

}  // namespace

std::string defaultUpdateServerUrl() {
    const char* fromEnvironment = std::getenv("TRELLIK_UPDATE_URL");
    if (fromEnvironment && *fromEnvironment) return withTrailingSlash(fromEnvironment);
    return "http://127.0.0.1:8642/";
}

std::string updateServerUrl() {
    if (serverUrl.empty()) serverUrl = defaultUpdateServerUrl();
    return serverUrl;
}

void setUpdateServerUrl(const std::string& url) {
    serverUrl = withTrailingSlash(url);
}

std::string requestUrl(const std::string& url) {
    static const char hex[] = "0123456789ABCDEF";
    std::string wire;
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            wire += '/';
        } else if (needsEscape(byte)) {
            wire += '%';
            wire += hex[byte >> 4];
            wire += hex[byte & 0x0F];
        } else {
            wire += c;
        }
    }
    return wire;
}

int64_t fetchToFile(const std::string& url, const std::string& localPath, const std::string& userAgent,
                    const TdownloadProgress& progress, uint64_t sizeCeiling) {
    const std::string wireUrl = requestUrl(url);
    TpartialFile partial(wireUrl, localPath);
    TcurlHandle curl;
    Ttransfer transfer(curl.get(), partial.stream(), &progress, transferLimits(), sizeCeiling);
    char errorText[CURL_ERROR_SIZE] = {};
    configureRequest(curl.get(), wireUrl, userAgent, transfer, errorText);
    const CURLcode result = curl_easy_perform(curl.get());
    checkOutcome(curl.get(), result, transfer, wireUrl, errorText);
    partial.commit();
    return announcedLength(curl.get());
}

bool downloadFile(const std::string& url, const std::string& localPath, bool announce, uint64_t sizeCeiling) {
    if (announce) {
        consoleWriteLine("");
        consoleWrite("File " + localPath + " missing; downloading...");
    }
    fetchToFile(url, localPath, "Trellik-Downloader/1.0", {}, sizeCeiling);
    return true;
}

void removeLeftoverDownloads(const std::string& gameFolder, const TdownloadTargets& targets) {
    for (const std::string& name : listFolder(gameFolder, partialFileMask)) {
        const std::string_view target = partialFileTarget(name);
        const auto isTarget = [target](const std::string& file) { return sameNameIgnoringCase(target, file); };
        if (std::any_of(targets.files.begin(), targets.files.end(), isTarget))
            removeIfLeftover(joinPath(resolvePath(gameFolder), name));
    }
    for (const std::string& folder : targets.folders) {
        const std::string place = resolvePath(joinPath(gameFolder, folder));
        for (const std::string& name : listFolder(place, partialFileMask)) removeIfLeftover(joinPath(place, name));
    }
}
