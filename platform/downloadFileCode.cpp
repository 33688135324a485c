// The update server's address.
#include "platform/downloadFileCode.h"

#include <cstdlib>

namespace {

std::string serverUrl;

std::string withTrailingSlash(std::string url) {
    if (url.empty() || url.back() != '/') url += '/';
    return url;
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

bool downloadFile(const std::string&, const std::string&, bool) {
    return false;
}
