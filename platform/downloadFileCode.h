// The update server's address and the fetch of one missing file from it.
#pragma once

#include <string>

// The base URL of the update server, always ending in "/". TRELLIK_UPDATE_URL overrides the
// compiled-in default.
std::string updateServerUrl();
void setUpdateServerUrl(const std::string& url);
std::string defaultUpdateServerUrl();

// Fetches url into localPath and returns true; a failure is raised as std::runtime_error with
// a clear text, and leaves no partial file behind. With announce, the console says
// "File " + localPath + " missing; downloading..." on a fresh line first.
bool downloadFile(const std::string& url, const std::string& localPath, bool announce);
