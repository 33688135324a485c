// The assist tick on every marker's beat and the hit sound of each press: the setting, the
// samples at the chosen volume, and when each tick is heard.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class Tsfx;

// Which of the two sounds play; stored as 0..3 in the settings.
enum class TassistMode : int32_t { off = 0, tick = 1, hitSounds = 2, both = 3 };

inline constexpr int32_t loudestAssistVolume = 100;

// A stored mode outside 0..3 reads as off; a stored volume outside 0..100 as full volume.
TassistMode assistModeFromSetting(int32_t stored);
int32_t assistVolumeFromSetting(int32_t stored);
// The mode after this one, as song select steps through them: off, tick, hit sounds, both, off.
TassistMode nextAssistMode(TassistMode mode);
bool ticksOn(TassistMode mode);
bool hitSoundsOn(TassistMode mode);
// What song select shows for the mode.
std::string assistModeLine(TassistMode mode);

// The samples at a volume of 0..100 (100 leaves them as they are).
std::vector<int16_t> samplesAtVolume(std::vector<int16_t> samples, int32_t volume);

// The run's assist sounds: the setting and the two samples, loaded when a song starts.
struct TassistSounds {
    TassistMode mode = TassistMode::off;
    int32_t volume = loudestAssistVolume;
    std::shared_ptr<Tsfx> tick;
    std::shared_ptr<Tsfx> hit;
    // The volume the samples were loaded at; -1 before they were.
    int32_t loadedVolume = -1;
};

// The stock samples, under the game folder's snd/.
inline constexpr const char* assistTickFile = "snd\\assistTick.mp3";
inline constexpr const char* hitSoundFile = "snd\\hitSound.mp3";
