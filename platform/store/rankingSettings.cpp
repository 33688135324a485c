// Ranking settings kept beside the launcher's values; the token is tied to the server and name.
#include "platform/store/rankingSettings.h"

#include <sys/stat.h>

#include <stdexcept>

namespace {

constexpr const char* urlKey = "rankingurl";
constexpr const char* nameKey = "rankingname";
constexpr const char* tokenKey = "rankingtoken";
constexpr const char* playerKey = "rankingplayer";
constexpr const char* registeredForKey = "rankingregisteredfor";

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// What a registration belongs to; a line break cannot be part of either.
std::string registrationKey(const std::string& serverUrl, const std::string& playerName) {
    return serverUrl + "\n" + playerName;
}

int64_t playerIdFrom(const std::string& text) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
    return std::stoll(text);
}

// A player who never sets the ranking gets no keys for it in their file.
void writeIfChanged(TsettingsStore& store, const char* key, const std::string& value) {
    if (store.readString(key) != value) store.writeString(key, value);
}

}  // namespace

TrankingSettings readRankingSettings(const TsettingsStore& store) {
    TrankingSettings settings;
    settings.serverUrl = trimmed(store.readString(urlKey).value_or(""));
    settings.playerName = trimmed(store.readString(nameKey).value_or(""));
    if (store.readString(registeredForKey).value_or("") != registrationKey(settings.serverUrl, settings.playerName))
        return settings;
    settings.token = store.readString(tokenKey).value_or("");
    settings.playerId = playerIdFrom(store.readString(playerKey).value_or(""));
    if (settings.token.empty() || settings.playerId == 0) settings = {settings.serverUrl, settings.playerName, "", 0};
    return settings;
}

void writeRankingChoice(TsettingsStore& store, const std::string& serverUrl, const std::string& playerName) {
    writeIfChanged(store, urlKey, trimmed(serverUrl));
    writeIfChanged(store, nameKey, trimmed(playerName));
}

void keepRankingRegistration(const std::string& settingsFile, const TrankingSettings& registered) {
    TsettingsStore store(settingsFile);
    store.open();
    // The server and name beside it, so the file says whom the token belongs to even when the
    // choice came from elsewhere than the file (the tool's options, a run started by hand).
    writeRankingChoice(store, registered.serverUrl, registered.playerName);
    store.writeString(tokenKey, registered.token);
    store.writeString(playerKey, std::to_string(registered.playerId));
    store.writeString(registeredForKey, registrationKey(registered.serverUrl, registered.playerName));
    store.save();
    // The token is the player's password on the server.
    if (::chmod(settingsFile.c_str(), 0600) != 0) throw std::runtime_error("Cannot make " + settingsFile + " private.");
}
