// What the launcher hands to a game run, worked out from its settings record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/trellikGL38Engine.h"
#include "platform/store/settingsStore.h"

// The fixed numeric-pad layout used instead of the assigned keys while the Elecom box is
// checked: Tab, keypad / * , Backspace / keypad 7 8 9 - / keypad 4 5 6 + / keypad 1 2 3, Enter.
inline constexpr int32_t elecomLayout[16] = {9, 111, 106, 8, 103, 104, 105, 109,
                                             100, 101, 102, 107, 97, 98, 99, 13};

// The highest position of the scale slider.
inline constexpr int32_t scaleSliderMaximum = 100;
// The size a resolution edit stands for when it holds no integer.
inline constexpr int32_t fallbackResolution = 600;

// The text as a 32-bit integer: optional blanks and sign, then decimal digits, nothing else.
std::optional<int32_t> integerFromText(const std::string& text);

// The scale factor the game receives for a slider position: (max - p) * 0.009 + 0.1,
// worked out in extended precision.
double scaleFactorFor(int32_t position);

// 0, 90, 180 or 270 for the stored rotation 0 to 3.
int32_t rotationDegrees(int32_t rotationCode);

// The parameters of a game run for the settings; a resolution that is not an integer passes 600.
// The game keeps new offsets through saveOffsetsTo on settingsFile.
LaunchParameters launchParametersFor(const TstoredSettings& settings, bool songDebug, const std::string& exeName,
                                     const std::string& settingsFile);

// Puts the two offsets into the settings file at once and keeps every other stored value; a
// file holding no settings gets the rest from settings. A failure is shown as a warning.
void saveOffsetsTo(const std::string& settingsFile, const TstoredSettings& settings, int32_t audioOffset,
                   int32_t visualOffset);
// The same for the assist mode song select switched to; the stored volume stays.
void saveAssistModeTo(const std::string& settingsFile, const TstoredSettings& settings, int32_t assistMode);

// The same for the practice choices song select changed.
void savePracticeTo(const std::string& settingsFile, const TstoredSettings& settings, const TpracticeChoice& choice);

// The settings stored for this user, or the first-run values where none can be read; used
// when the game is started without the launcher. Saves no values (a corrupt file is still kept
// aside, and store.setAsideReason() says so; a file of the earlier layout is rewritten).
TstoredSettings storedSettingsOrFirstRun(TsettingsStore& store);

// The full path of the running program.
std::string runningExecutable();
