// The launch parameters from the settings record, shared by the start button and --start.
#include "launcher/launchSettings.h"

#include <unistd.h>

#include <cctype>
#include <limits>
#include <exception>
#include <functional>

#include "launcher/launcherApplication.h"
#include "platform/window/messageBox.h"

std::optional<int32_t> integerFromText(const std::string& text) {
    size_t at = 0;
    while (at < text.size() && text[at] == ' ') ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) negative = text[at++] == '-';
    if (at == text.size()) return std::nullopt;
    int64_t value = 0;
    for (; at < text.size(); ++at) {
        if (!std::isdigit(static_cast<unsigned char>(text[at]))) return std::nullopt;
        value = value * 10 + (text[at] - '0');
        if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(value);
}

double scaleFactorFor(int32_t position) {
    const long double factor = (scaleSliderMaximum - position) * 0.009L + 0.1L;
    return static_cast<double>(factor);
}

int32_t rotationDegrees(int32_t rotationCode) {
    switch (rotationCode) {
        case 1: return 90;
        case 2: return 180;
        case 3: return 270;
        default: return 0;
    }
}

LaunchParameters launchParametersFor(const TstoredSettings& settings, bool songDebug, const std::string& exeName,
                                     const std::string& settingsFile) {
    LaunchParameters parameters;
    parameters.quality = settings.quality;
    parameters.width = integerFromText(settings.hres).value_or(fallbackResolution);
    parameters.height = integerFromText(settings.vres).value_or(fallbackResolution);
    parameters.fullscreen = settings.fullscreen;
    const int32_t* keys = settings.elecom ? elecomLayout : settings.keys;
    for (int i = 0; i < 16; ++i) parameters.keys[i] = keys[i];
    parameters.rotation = rotationDegrees(settings.rotation);
    parameters.scale = scaleFactorFor(settings.scaleValue);
    parameters.yAdjust = settings.yAdjust;
    parameters.songDebug = songDebug;
    parameters.exeName = exeName;
    parameters.audioOffset = settings.audioOffset;
    parameters.visualOffset = settings.visualOffset;
    parameters.recordsPath = TrecordsDatabase::defaultPath();
    parameters.settingsFile = settingsFile;
    parameters.saveOffsets = [settingsFile, settings](int32_t audioOffset, int32_t visualOffset) {
        saveOffsetsTo(settingsFile, settings, audioOffset, visualOffset);
    };
    parameters.practice = settings.practice;
    parameters.savePractice = [settingsFile, settings](const TpracticeChoice& choice) {
        savePracticeTo(settingsFile, settings, choice);
    };
    parameters.assistMode = settings.assistMode;
    parameters.assistVolume = settings.assistVolume;
    parameters.saveAssistMode = [settingsFile, settings](int32_t assistMode) {
        saveAssistModeTo(settingsFile, settings, assistMode);
    };
    return parameters;
}

namespace {

// Puts what write writes into the settings file at once, keeping every other stored value; a file
// holding no settings gets the rest from settings. Called from the middle of the game: whatever
// goes wrong is said and the game goes on.
void saveInSettingsFile(const std::string& settingsFile, const TstoredSettings& settings,
                        const std::function<void(TsettingsStore&)>& write, const std::string& what) {
    try {
        TsettingsStore store(settingsFile);
        // Read afresh: the launcher or another run may have saved since this run began.
        const bool holdsSettings = store.open();
        if (!store.setAsideReason().empty())
            messageBox(store.setAsideReason(), applicationTitle, TmessageKind::warning);
        // A file of these values alone would read as a broken one; the run's settings stand in.
        if (!holdsSettings) writeStoredSettings(store, settings);
        write(store);
        store.save();
    } catch (const std::exception& error) {
        messageBox(std::string(error.what()) + "\nThe new " + what + " could not be kept.", applicationTitle,
                   TmessageKind::warning);
    }
}

}  // namespace

void saveOffsetsTo(const std::string& settingsFile, const TstoredSettings& settings, int32_t audioOffset,
                   int32_t visualOffset) {
    saveInSettingsFile(settingsFile, settings,
                       [&](TsettingsStore& store) { writeStoredOffsets(store, audioOffset, visualOffset); }, "offsets");
}

void savePracticeTo(const std::string& settingsFile, const TstoredSettings& settings, const TpracticeChoice& choice) {
    saveInSettingsFile(settingsFile, settings, [&](TsettingsStore& store) { writeStoredPractice(store, choice); },
                       "practice choices");
}

void saveAssistModeTo(const std::string& settingsFile, const TstoredSettings& settings, int32_t assistMode) {
    saveInSettingsFile(
        settingsFile, settings,
        [assistMode](TsettingsStore& store) {
            TstoredSettings stored;
            readStoredAssists(store, stored);
            writeStoredAssists(store, assistMode, stored.assistVolume);
        },
        "assist sounds setting");
}

TstoredSettings storedSettingsOrFirstRun(TsettingsStore& store) {
    TstoredSettings settings;
    if (!store.open()) return settings;
    // As the launcher's fallback does: what was read stays, the keys go back to the default.
    if (!readStoredSettings(store, settings))
        for (int i = 0; i < 16; ++i) settings.keys[i] = defaultKeyLayout[i];
    return settings;
}

std::string runningExecutable() {
    char buffer[4096];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0) return "TrellikGL38";
    return std::string(buffer, static_cast<size_t>(length));
}
