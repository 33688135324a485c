// The settings file: typed values under named keys, atomic saves, a corrupt file kept aside.
#include "platform/settingsStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace {

// A settings file is a few hundred bytes; anything this large is not one of ours.
constexpr std::uintmax_t largestSettingsFile = 1 << 20;

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    const passwd* entry = ::getpwuid(::getuid());
    return entry && entry->pw_dir ? entry->pw_dir : ".";
}

std::string systemError(const std::string& what, const std::string& path) {
    return what + " \"" + path + "\": " + std::strerror(errno);
}

// Reads the whole file; returns an empty reason on success, and sets missing when there is none.
std::string readWholeFile(const std::string& path, std::string& bytes, bool& missing) {
    struct stat status {};
    missing = ::stat(path.c_str(), &status) != 0 && errno == ENOENT;
    if (missing) return "";
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::string("cannot be read (") + std::strerror(errno) + ")";
    if (!S_ISREG(status.st_mode)) return "is not a regular file";
    if (static_cast<std::uintmax_t>(status.st_size) > largestSettingsFile) return "is too large to be a settings file";
    std::ostringstream contents;
    contents << file.rdbuf();
    if (file.bad()) return "cannot be read";
    bytes = contents.str();
    return "";
}

// Checks that bytes hold a settings document whose key, if present, is a set of values.
std::string parseDocument(const std::string& bytes, const std::string& keyName, nlohmann::json& document) {
    if (bytes.size() > largestSettingsFile) return "is too large to be a settings file";
    nlohmann::json parsed = nlohmann::json::parse(bytes, nullptr, false);
    if (parsed.is_discarded()) return "is not valid JSON";
    if (!parsed.is_object()) return "does not hold a JSON object";
    const auto found = parsed.find(keyName);
    if (found != parsed.end() && !found->is_object()) return "holds the settings key as something other than an object";
    document = std::move(parsed);
    return "";
}

void writeAll(int descriptor, const std::string& bytes, const std::string& path) {
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t result = ::write(descriptor, bytes.data() + written, bytes.size() - written);
        if (result < 0 && errno == EINTR) continue;
        if (result <= 0) throw std::runtime_error(systemError("Cannot write the settings file", path));
        written += static_cast<size_t>(result);
    }
}

int32_t heldTo(int32_t value, int32_t lowest, int32_t highest) {
    return std::clamp(value, lowest, highest);
}

}  // namespace

TsettingsStore::TsettingsStore(std::string filePath) : path(std::move(filePath)) {}

std::string TsettingsStore::defaultFilePath() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const std::string base = configHome && configHome[0] == '/' ? configHome : homeFolder() + "/.config";
    return base + "/Trellik/settings.json";
}

bool TsettingsStore::openKey(const std::string& keyName) {
    asideReason.clear();
    document = nlohmann::json::object();
    std::string bytes;
    bool missing = false;
    std::string reason = readWholeFile(path, bytes, missing);
    if (missing) return selectKey(keyName);
    if (reason.empty()) reason = parseDocument(bytes, keyName, document);
    if (!reason.empty()) {
        const std::string aside = path + ".bad";
        std::error_code error;
        std::filesystem::rename(path, aside, error);
        asideReason = "The settings file \"" + path + "\" " + reason + ".";
        asideReason += error ? " It could not be kept aside (" + error.message() + ")."
                             : " It was kept as \"" + aside + "\" and the first-run settings are used.";
        document = nlohmann::json::object();
    }
    return selectKey(keyName);
}

bool TsettingsStore::openKeyFromBytes(const std::string& bytes, const std::string& keyName) {
    asideReason.clear();
    document = nlohmann::json::object();
    asideReason = parseDocument(bytes, keyName, document);
    if (!asideReason.empty()) document = nlohmann::json::object();
    return selectKey(keyName);
}

bool TsettingsStore::selectKey(const std::string& keyName) {
    key = keyName;
    if (document.contains(key)) return true;
    document[key] = nlohmann::json::object();
    return false;
}

const nlohmann::json* TsettingsStore::findValue(const std::string& name) const {
    const auto values = document.find(key);
    if (values == document.end()) return nullptr;
    const auto found = values->find(name);
    return found == values->end() ? nullptr : &*found;
}

std::optional<std::string> TsettingsStore::readString(const std::string& name) const {
    const nlohmann::json* value = findValue(name);
    if (!value) return std::string();
    if (!value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

std::optional<int32_t> TsettingsStore::readInteger(const std::string& name) const {
    const nlohmann::json* value = findValue(name);
    if (!value) return std::nullopt;
    if (value->is_number_unsigned()) {
        const uint64_t number = value->get<uint64_t>();
        if (number > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return std::nullopt;
        return static_cast<int32_t>(number);
    }
    if (!value->is_number_integer()) return std::nullopt;
    const int64_t number = value->get<int64_t>();
    if (number < std::numeric_limits<int32_t>::min() || number > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(number);
}

std::optional<bool> TsettingsStore::readBoolean(const std::string& name) const {
    const std::optional<int32_t> number = readInteger(name);
    if (!number) return std::nullopt;
    return *number != 0;
}

void TsettingsStore::writeString(const std::string& name, const std::string& value) {
    document[key][name] = value;
}

void TsettingsStore::writeInteger(const std::string& name, int32_t value) {
    document[key][name] = value;
}

void TsettingsStore::writeBoolean(const std::string& name, bool value) {
    document[key][name] = value ? 1 : 0;
}

void TsettingsStore::save() const {
    const std::filesystem::path target(path);
    std::error_code error;
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), error);
    if (error)
        throw std::runtime_error("Cannot create the settings folder \"" + target.parent_path().string() +
                                 "\": " + error.message());
    std::string temporary = path + ".XXXXXX";
    const int descriptor = ::mkstemp(temporary.data());
    if (descriptor < 0) throw std::runtime_error(systemError("Cannot create a temporary file beside", path));
    try {
        writeAll(descriptor, document.dump(2) + "\n", temporary);
        if (::fsync(descriptor) != 0) throw std::runtime_error(systemError("Cannot write the settings file", temporary));
    } catch (...) {
        ::close(descriptor);
        ::unlink(temporary.c_str());
        throw;
    }
    ::close(descriptor);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string message = systemError("Cannot replace the settings file", path);
        ::unlink(temporary.c_str());
        throw std::runtime_error(message);
    }
}

bool readStoredSettings(const TsettingsStore& store, TstoredSettings& settings) {
    const std::optional<std::string> hres = store.readString("hres");
    if (!hres) return false;
    settings.hres = *hres;
    const std::optional<std::string> vres = store.readString("vres");
    if (!vres) return false;
    settings.vres = *vres;
    const std::optional<bool> fullscreen = store.readBoolean("fullscreen");
    if (!fullscreen) return false;
    settings.fullscreen = *fullscreen;
    const std::optional<bool> elecom = store.readBoolean("elecom");
    if (!elecom) return false;
    settings.elecom = *elecom;
    const std::optional<int32_t> languageId = store.readInteger("languageid");
    if (!languageId) return false;
    settings.languageId = *languageId == 1 ? 1 : 0;
    const std::optional<bool> mode = store.readBoolean("mode");
    if (!mode) return false;
    settings.mode = *mode;
    const std::optional<int32_t> quality = store.readInteger("quality");
    if (!quality) return false;
    settings.quality = heldTo(*quality, 0, 1);
    const std::optional<int32_t> scaleValue = store.readInteger("scalevalue");
    if (!scaleValue) return false;
    settings.scaleValue = heldTo(*scaleValue, 0, 100);
    const std::optional<int32_t> yAdjust = store.readInteger("yadjust");
    if (!yAdjust) return false;
    settings.yAdjust = heldTo(*yAdjust, -30, 30);
    const std::optional<int32_t> rotation = store.readInteger("rotation");
    if (!rotation) return false;
    if (*rotation >= 1 && *rotation <= 3) settings.rotation = *rotation;
    for (int i = 0; i < 16; ++i) {
        const std::optional<int32_t> code = store.readInteger(std::to_string(i));
        if (!code) return false;
        settings.keys[i] = *code;
    }
    return true;
}

void writeStoredSettings(TsettingsStore& store, const TstoredSettings& settings) {
    store.writeString("hres", settings.hres);
    store.writeString("vres", settings.vres);
    store.writeBoolean("fullscreen", settings.fullscreen);
    store.writeBoolean("elecom", settings.elecom);
    for (int i = 0; i < 16; ++i) store.writeInteger(std::to_string(i), settings.keys[i]);
    store.writeInteger("languageid", settings.languageId);
    store.writeBoolean("mode", settings.mode);
    store.writeInteger("quality", settings.quality);
    store.writeInteger("scalevalue", settings.scaleValue);
    store.writeInteger("rotation", settings.rotation);
    store.writeInteger("yadjust", settings.yAdjust);
}
