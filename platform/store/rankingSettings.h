// The player's ranking settings in the settings file: the server, their name, and the token the
// server gave that name.
#pragma once

#include <cstdint>
#include <string>

#include "platform/store/settingsStore.h"

// Where the player's plays are ranked and under which name and token.
struct TrankingSettings {
    // "" keeps ranking off.
    std::string serverUrl;
    std::string playerName;
    // The registration for exactly this server and name; empty until the first submission.
    std::string token;
    int64_t playerId = 0;
};

// Absent or unreadable values read as empty. A token kept for another server or name is not
// read: the player changed either, and is registered anew.
TrankingSettings readRankingSettings(const TsettingsStore& store);
// The server and name the player chose, trimmed of blanks at either end (in memory; the caller saves).
void writeRankingChoice(TsettingsStore& store, const std::string& serverUrl, const std::string& playerName);
// Puts the registration into the settings file at once, every other value kept, the file readable
// by its owner alone. Raises std::runtime_error when the file cannot be written.
void keepRankingRegistration(const std::string& settingsFile, const TrankingSettings& registered);
