// The update server's address and the fetch of one missing file from it.
#pragma once

#include <string>

// The base URL of the update server, always ending in "/". TRELLIK_UPDATE_URL overrides the
// compiled-in default.
std::string updateServerUrl();
void setUpdateServerUrl(const std::string& url);
std::string defaultUpdateServerUrl();
