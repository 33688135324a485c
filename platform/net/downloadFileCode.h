// The update server's address and the fetch of one missing file from it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/net/transferLimits.h"

// The base URL of the update server, always ending in "/". TRELLIK_UPDATE_URL overrides the
// compiled-in default.
std::string updateServerUrl();
void setUpdateServerUrl(const std::string& url);
std::string defaultUpdateServerUrl();

// Progress of one transfer: the size the server announced (0 while unknown) and the bytes
// received so far. Returning false abandons the transfer, which then fails.
using TdownloadProgress = std::function<bool(uint64_t announced, uint64_t received)>;

// The URL as it goes on the wire: "\" turned into "/", and blanks, control characters and
// bytes outside ASCII percent-encoded.
std::string requestUrl(const std::string& url);

// Fetches url with a GET carrying userAgent into localPath (case-insensitive, folders created
// as needed). The body goes to a temporary file beside the target that replaces it only when
// the whole reply arrived with a success status. A reply that announces or sends more than
// sizeCeiling bytes fails. Any failure raises std::runtime_error with a clear text and leaves
// the target as it was. Returns the length the final reply announced, or -1 when it gave none.
int64_t fetchToFile(const std::string& url, const std::string& localPath, const std::string& userAgent,
                    const TdownloadProgress& progress = {}, uint64_t sizeCeiling = stockFileSizeCeiling);

// Fetches url into localPath as "Trellik-Downloader/1.0" and returns true; failures raise as
// fetchToFile does. With announce, the console first finishes its current line and then says
// "File " + localPath + " missing; downloading..." on a line it leaves open.
bool downloadFile(const std::string& url, const std::string& localPath, bool announce,
                  uint64_t sizeCeiling = stockFileSizeCeiling);

// Where transfers write in a game folder: the files named at its top, and the files directly
// inside the folders named. Names match in any letter case.
struct TdownloadTargets {
    std::vector<std::string> files;
    std::vector<std::string> folders;
};

// Removes the temporary files that transfers of a program run that has ended left beside the
// targets in gameFolder. Those of runs still going are kept, and nothing else is looked at: the
// game folder may be the player's home, whose own files merely look alike.
void removeLeftoverDownloads(const std::string& gameFolder, const TdownloadTargets& targets);
