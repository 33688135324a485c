// What a stock file download reports, for tests that expect it to fail.
#pragma once

#include <string>

// The error text downloadFile raises for url into localPath (quietly), or "" when it succeeds.
std::string downloadError(const std::string& url, const std::string& localPath);
