// The settings file: typed values at the top level, atomic saves, a corrupt file kept aside.
#include "platform/store/settingsStore.h"

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
#include <limits>
#include <stdexcept>
#include <utility>

namespace {

// A settings file is a few hundred bytes; anything this large is not one of ours.
constexpr std::uintmax_t largestSettingsFile = 1 << 20;
// The one object the values were kept under before they moved to the top level of the file.
constexpr const char* earlierLayoutKey = "Software\\Trellik";
// Links in a chain beyond this count as a loop (the system's own limit).
constexpr int mostLinksFollowed = 40;
// Corrupt files kept aside before the oldest copies have to be cleared by hand.
constexpr int mostKeptAside = 1000;

std::string systemError(const std::string& what, const std::string& path) {
    return what + " \"" + path + "\": " + std::strerror(errno);
}

// Where the settings really live: the file a chain of symbolic links ends at, existing or not,
// so that a save replaces the target and leaves the link a link.
std::string linkTarget(const std::string& path) {
    std::filesystem::path current(path);
    for (int hop = 0; hop < mostLinksFollowed; ++hop) {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(current, error))) break;
        const std::filesystem::path next = std::filesystem::read_symlink(current, error);
        if (error) break;
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return current.string();
}

std::string readFailure() {
    return std::string("cannot be read (") + std::strerror(errno) + ")";
}

// Reads from descriptor to its end; returns an empty reason on success.
std::string readDescriptor(int descriptor, std::string& bytes) {
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(descriptor, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return readFailure();
        if (got == 0) return "";
        bytes.append(buffer, static_cast<size_t>(got));
        if (bytes.size() > largestSettingsFile) return "is too large to be a settings file";
    }
}

// Reads the whole file; returns an empty reason on success, and sets missing when there is none.
// Only a regular file is opened: a pipe or a device could hold the launcher up for good.
std::string readWholeFile(const std::string& path, std::string& bytes, bool& missing) {
    struct stat status {};
    missing = false;
    if (::stat(path.c_str(), &status) != 0) {
        missing = errno == ENOENT;
        return missing ? "" : readFailure();
    }
    if (!S_ISREG(status.st_mode)) return "is not a regular file";
    // Non-blocking all the same, in case the file is swapped for a pipe after the check.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0) return readFailure();
    std::string reason;
    if (::fstat(descriptor, &status) != 0) reason = readFailure();
    else if (!S_ISREG(status.st_mode)) reason = "is not a regular file";
    else reason = readDescriptor(descriptor, bytes);
    ::close(descriptor);
    return reason;
}

// Brings the values of the earlier layout, kept under one object, up to the top level; a value
// already at the top level is the newer one and stays.
void liftEarlierLayout(nlohmann::json& document) {
    const nlohmann::json values = document.at(earlierLayoutKey);
    document.erase(earlierLayoutKey);
    for (const auto& [name, value] : values.items()) document.emplace(name, value);
}

// Checks that bytes hold a settings document and brings it to the current layout; sets
// earlierLayout when it had to.
std::string parseDocument(const std::string& bytes, nlohmann::json& document, bool& earlierLayout) {
    if (bytes.size() > largestSettingsFile) return "is too large to be a settings file";
    nlohmann::json parsed = nlohmann::json::parse(bytes, nullptr, false);
    if (parsed.is_discarded()) return "is not valid JSON";
    if (!parsed.is_object()) return "does not hold a JSON object";
    const auto nested = parsed.find(earlierLayoutKey);
    earlierLayout = nested != parsed.end();
    if (earlierLayout && !nested->is_object()) return "holds the settings key as something other than an object";
    if (earlierLayout) liftEarlierLayout(parsed);
    document = std::move(parsed);
    return "";
}

// Renames from to to unless to exists (errno EEXIST then).
bool renameWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace rename: checked first, which only a second launcher
    // acting in the same instant could defeat.
    struct stat status {};
    if (::lstat(to.c_str(), &status) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

// Moves file to the first free name of "<file>.bad", "<file>.bad.2", …; returns that name, or
// "" with the reason in failure.
std::string moveAside(const std::string& file, std::string& failure) {
    for (int number = 1; number <= mostKeptAside; ++number) {
        // Appended piece by piece: GCC 12 at -O3 takes "." + a temporary string for an
        // overlapping copy and warns.
        std::string aside = file + ".bad";
        if (number > 1) aside.append(".").append(std::to_string(number));
        if (renameWithoutReplacing(file, aside)) return aside;
        if (errno != EEXIST) {
            failure = std::strerror(errno);
            return "";
        }
    }
    failure = "too many earlier copies are kept";
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

// A stored offset, or 0 when it is absent, not an integer or out of range.
int32_t storedOffset(const TsettingsStore& store, const std::string& name) {
    const int32_t value = store.readInteger(name).value_or(0);
    return value < -largestOffset || value > largestOffset ? 0 : value;
}

}  // namespace

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    const passwd* entry = ::getpwuid(::getuid());
    return entry && entry->pw_dir ? entry->pw_dir : ".";
}

TsettingsStore::TsettingsStore(std::string filePath) : path(std::move(filePath)) {}

std::string TsettingsStore::defaultFilePath() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const std::string base = configHome && configHome[0] == '/' ? configHome : homeFolder() + "/.config";
    return base + "/Trellik/settings.json";
}

bool TsettingsStore::open() {
    asideReason.clear();
    document = nlohmann::json::object();
    const std::string file = linkTarget(path);
    std::string bytes;
    bool missing = false;
    std::string reason = readWholeFile(file, bytes, missing);
    if (missing) return false;
    bool earlierLayout = false;
    if (reason.empty()) reason = parseDocument(bytes, document, earlierLayout);
    if (!reason.empty()) {
        keepAside(file, reason);
        return false;
    }
    if (earlierLayout) {
        try {
            save();
        } catch (const std::runtime_error&) {
            // The values are read all the same; the next save says what stands in the way.
        }
    }
    return !document.empty();
}

bool TsettingsStore::openFromBytes(const std::string& bytes) {
    asideReason.clear();
    document = nlohmann::json::object();
    bool earlierLayout = false;
    asideReason = parseDocument(bytes, document, earlierLayout);
    if (asideReason.empty()) return !document.empty();
    document = nlohmann::json::object();
    return false;
}

void TsettingsStore::keepAside(const std::string& file, const std::string& reason) {
    std::string failure;
    const std::string aside = moveAside(file, failure);
    asideReason = "The settings file \"" + path + "\" " + reason + ".";
    asideReason += aside.empty() ? " It could not be kept aside (" + failure + ")."
                                 : " It was kept as \"" + aside + "\" and the first-run settings are used.";
    document = nlohmann::json::object();
}

const nlohmann::json* TsettingsStore::findValue(const std::string& name) const {
    const auto found = document.find(name);
    return found == document.end() ? nullptr : &*found;
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
    document[name] = value;
}

void TsettingsStore::writeInteger(const std::string& name, int32_t value) {
    document[name] = value;
}

void TsettingsStore::writeBoolean(const std::string& name, bool value) {
    document[name] = value ? 1 : 0;
}

void TsettingsStore::save() const {
    const std::string file = linkTarget(path);
    const std::filesystem::path target(file);
    std::error_code error;
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), error);
    if (error)
        throw std::runtime_error("Cannot create the settings folder \"" + target.parent_path().string() +
                                 "\": " + error.message());
    std::string temporary = file + ".XXXXXX";
    const int descriptor = ::mkstemp(temporary.data());
    if (descriptor < 0) throw std::runtime_error(systemError("Cannot create a temporary file beside", file));
    try {
        writeAll(descriptor, document.dump(2) + "\n", temporary);
        if (::fsync(descriptor) != 0) throw std::runtime_error(systemError("Cannot write the settings file", temporary));
    } catch (...) {
        ::close(descriptor);
        ::unlink(temporary.c_str());
        throw;
    }
    ::close(descriptor);
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const std::string message = systemError("Cannot replace the settings file", file);
        ::unlink(temporary.c_str());
        throw std::runtime_error(message);
    }
}

bool readStoredSettings(const TsettingsStore& store, TstoredSettings& settings) {
    readStoredOffsets(store, settings);
    readStoredPractice(store, settings.practice);
    readStoredAssists(store, settings);
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
    writeStoredOffsets(store, settings.audioOffset, settings.visualOffset);
    writeStoredPractice(store, settings.practice);
    writeStoredAssists(store, settings.assistMode, settings.assistVolume);
}

void readStoredOffsets(const TsettingsStore& store, TstoredSettings& settings) {
    settings.audioOffset = storedOffset(store, "audiooffset");
    settings.visualOffset = storedOffset(store, "visualoffset");
}

void writeStoredOffsets(TsettingsStore& store, int32_t audioOffset, int32_t visualOffset) {
    store.writeInteger("audiooffset", heldTo(audioOffset, -largestOffset, largestOffset));
    store.writeInteger("visualoffset", heldTo(visualOffset, -largestOffset, largestOffset));
}

void readStoredAssists(const TsettingsStore& store, TstoredSettings& settings) {
    const std::optional<int32_t> mode = store.readInteger("assistsounds");
    settings.assistMode = mode && *mode >= 0 && *mode <= 3 ? *mode : 0;
    const std::optional<int32_t> volume = store.readInteger("assistvolume");
    settings.assistVolume = volume && *volume >= 0 && *volume <= 100 ? *volume : 100;
}

void writeStoredAssists(TsettingsStore& store, int32_t assistMode, int32_t assistVolume) {
    store.writeInteger("assistsounds", heldTo(assistMode, 0, 3));
    store.writeInteger("assistvolume", heldTo(assistVolume, 0, 100));
}
