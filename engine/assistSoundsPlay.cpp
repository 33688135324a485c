// The assist sounds in play: samples loaded as a song starts, ticks handed to the output ahead of
// each row's beat, hit sounds on presses, and song select's switch.
#include <algorithm>

#include "engine/assistSounds.h"
#include "engine/trellikGL38Engine.h"
#include "platform/clockSeam.h"
#include "platform/sound/audioDecoder.h"
#include "platform/sound/soundEngine.h"
#include "platform/store/pathResolver.h"
#include "platform/window/globalConsoleCode.h"

namespace {

// Long enough for any tick or hit sound.
constexpr size_t longestAssistFrames = 44100;
constexpr float assistLineX = 33.0f;
constexpr float assistLineY = 14.0f;

std::shared_ptr<Tsfx> loadAtVolume(const char* file, int32_t volume) {
    auto effect = std::make_shared<Tsfx>();
    std::vector<uint8_t> bytes;
    if (readWholeFile(resolvePath(file), bytes))
        effect->use(samplesAtVolume(decodeWholeMp3(std::move(bytes), longestAssistFrames), volume));
    // An older game folder may lack the file: the game goes on with that sound silent.
    if (effect->length() == 0)
        appendToDebugLog(std::string("Assist sounds: ") + file + " is missing or unreadable; it stays silent");
    return effect;
}

}  // namespace

void prepareAssistSounds(TtrellikGL& game) {
    TassistSounds& assist = game.assist;
    if (assist.mode == TassistMode::off || assist.loadedVolume == assist.volume) return;
    assist.tick = loadAtVolume(assistTickFile, assist.volume);
    assist.hit = loadAtVolume(hitSoundFile, assist.volume);
    assist.loadedVolume = assist.volume;
}

// One tick a row, on the output frame that carries the row's beat in the music: wherever the
// output's latency or the rate puts that frame, the tick is heard with the beat. The player's audio
// offset is for latency after the output, which the tick passes through as the music does.
void scheduleAssistTicks(TtrellikGL& game, uint32_t row) {
    if (!ticksOn(game.assist.mode) || !game.assist.tick) return;
    Tsfx& tick = *game.assist.tick;
    const double beatSongMs = perfectMusicMs(game.timing, game.chart.entries[row], 0);
    if (game.audio.music && tick.playAtSongTime(*game.audio.music, beatSongMs)) return;
    // No music rendered yet to find the beat's frame in: the tick goes by the music's clock; a beat
    // already heard gets none.
    const double delay = (beatSongMs - activeClock().musicPositionMs()) / musicRate(game);
    if (delay >= 0.0) tick.playAfter(delay);
}

void playHitSound(TtrellikGL& game) {
    if (hitSoundsOn(game.assist.mode) && game.assist.hit) game.assist.hit->play();
}

void switchAssistMode(TtrellikGL& game) {
    game.assist.mode = nextAssistMode(game.assist.mode);
    prepareAssistSounds(game);
    if (game.launch.saveAssistMode) game.launch.saveAssistMode(static_cast<int32_t>(game.assist.mode));
}

// Off says nothing, so song select looks as it always did until the player switches.
void drawAssistLine(TtrellikGL& game) {
    if (!drawingWindow(game) || game.assist.mode == TassistMode::off) return;
    drawTextColumn(game, {assistModeLine(game.assist.mode)}, assistLineX, assistLineY);
}
