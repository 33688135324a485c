// The per-user settings file that stands in for the registry, and the launcher's settings record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/store/practiceSettings.h"

// The player's home folder: $HOME, else the one the password database names.
std::string homeFolder();

// One JSON settings file holding typed values at the top level of its object, read and written
// like the values of a registry key: strings are JSON strings, integers and Booleans are JSON
// integers of 32 bits. An absent value or one of another JSON type is a failed read. Writes
// change the values in memory; save() puts the whole file in place atomically. A symbolic link
// in place of the file is followed: its target is read and replaced, the link stays.
class TsettingsStore {
public:
    explicit TsettingsStore(std::string filePath);

    // $XDG_CONFIG_HOME/Trellik/settings.json, or ~/.config/Trellik/settings.json.
    static std::string defaultFilePath();

    // Reads the file; true when it held settings (an empty object holds none). A file that
    // cannot be read, is no regular file or is not a settings document is moved aside to
    // "<file>.bad" (or "<file>.bad.2" and so on when earlier ones are kept), so nothing the
    // player had is lost, and the store starts empty. A file of the earlier layout, with the
    // values under one nested object, is read and rewritten with them at the top level.
    bool open();
    // The same from bytes instead of the file; nothing is moved aside or written.
    bool openFromBytes(const std::string& bytes);

    // An absent string reads as empty text; a value of another type fails (nullopt).
    std::optional<std::string> readString(const std::string& name) const;
    // Absent or of another type fails (nullopt).
    std::optional<int32_t> readInteger(const std::string& name) const;
    // Any number other than 0 reads as true.
    std::optional<bool> readBoolean(const std::string& name) const;

    void writeString(const std::string& name, const std::string& value);
    void writeInteger(const std::string& name, int32_t value);
    void writeBoolean(const std::string& name, bool value);

    // Writes the document to a temporary file beside the settings file and renames it over the
    // old one; raises std::runtime_error with the reason when that is not possible.
    void save() const;

    const std::string& filePath() const { return path; }
    // The note of the last open: empty, or why the old file was put aside.
    const std::string& setAsideReason() const { return asideReason; }

private:
    const nlohmann::json* findValue(const std::string& name) const;
    void keepAside(const std::string& file, const std::string& reason);

    std::string path;
    nlohmann::json document = nlohmann::json::object();
    std::string asideReason;
};

// The launcher's values, initialised to the first-run values.
struct TstoredSettings {
    std::string hres = "600";
    std::string vres = "600";
    bool fullscreen = false;
    bool elecom = false;
    int32_t languageId = 0;
    bool mode = true;
    int32_t quality = 0;
    int32_t scaleValue = 33;
    int32_t yAdjust = 4;
    // 0, 1, 2 or 3 for 0, 90, 180 and 270 degrees.
    int32_t rotation = 0;
    int32_t keys[16] = {52, 53, 54, 55, 82, 84, 89, 85, 70, 71, 72, 74, 86, 66, 78, 77};
    // The player's audio and visual offsets in ms, within -largestOffset..largestOffset.
    int32_t audioOffset = 0;
    int32_t visualOffset = 0;
    TpracticeChoice practice;
    // The play assists: 0 off, 1 tick, 2 hit sounds, 3 both; their volume 0..100.
    int32_t assistMode = 0;
    int32_t assistVolume = 100;
};

// The furthest either offset may be from 0, in ms.
inline constexpr int32_t largestOffset = 500;

// The keys 4 5 6 7 / R T Y U / F G H J / V B N M in panel order.
inline constexpr int32_t defaultKeyLayout[16] = {52, 53, 54, 55, 82, 84, 89, 85,
                                                 70, 71, 72, 74, 86, 66, 78, 77};

// Reads the values in reading order into settings and stops at the first failed read, so the
// values read before it are in settings and the rest keep what they held. Returns whether
// every value was read. Slider positions are held to their ranges; a language other than 0
// or 1 reads as 0; a stored rotation other than 1, 2 or 3 leaves the rotation as it is.
// The offsets came later and are read apart from that order (see readStoredOffsets): files
// written before them must still read in full.
bool readStoredSettings(const TsettingsStore& store, TstoredSettings& settings);
// Writes every value in writing order (in memory; the caller saves).
void writeStoredSettings(TsettingsStore& store, const TstoredSettings& settings);

// Reads the two offsets; each one absent, of another type or beyond largestOffset reads as 0.
void readStoredOffsets(const TsettingsStore& store, TstoredSettings& settings);
// Writes the two offsets, held to ±largestOffset (in memory; the caller saves).
void writeStoredOffsets(TsettingsStore& store, int32_t audioOffset, int32_t visualOffset);
// The play assists, read apart like the offsets: a mode absent or outside 0..3 reads as off, a
// volume absent or outside 0..100 as 100.
void readStoredAssists(const TsettingsStore& store, TstoredSettings& settings);
void writeStoredAssists(TsettingsStore& store, int32_t assistMode, int32_t assistVolume);
