// What a stock file download reports, for tests that expect it to fail.
#include "tests/support/downloadProbe.h"

#include <stdexcept>

#include "platform/net/downloadFileCode.h"

std::string downloadError(const std::string& url, const std::string& localPath) {
    try {
        downloadFile(url, localPath, false);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}
