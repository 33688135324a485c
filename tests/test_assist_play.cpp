// The assist sounds in play: one tick a row handed to the output ahead of its beat, a hit sound
// for each press, nothing of either while the mode leaves it out.
#include <memory>
#include <vector>

#include "platform/sound/audioEngine.h"
#include "platform/sound/audioMixer.h"
#include "platform/sound/soundEngine.h"
#include "tests/test_playback_fixture.h"

namespace {

std::shared_ptr<Tsfx> secondLongEffect() {
    auto effect = std::make_shared<Tsfx>();
    effect->use(std::vector<int16_t>(2 * 44100, 1000));
    return effect;
}

}  // namespace

TEST_F(TplaybackTest, AssistModesPlayOneTickARowAndOneHitSoundAPress) {
    addRow(3.0, {0, 5});
    addRow(3.5, {2});
    struct Tcase {
        TassistMode mode;
        int32_t afterRow;
        int32_t afterPress;
    } cases[] = {{TassistMode::off, 0, 0}, {TassistMode::tick, 1, 1}, {TassistMode::hitSounds, 0, 1},
                 {TassistMode::both, 1, 2}};
    for (const Tcase& tried : cases) {
        game->assist.mode = tried.mode;
        game->assist.tick = secondLongEffect();
        game->assist.hit = secondLongEffect();
        startPlaying();
        const int32_t before = programMixer().busyEffectChannels();
        // The first row (two markers, one beat) comes due; the second is a beat away yet.
        tickAt(3000 - 50 - 300);
        EXPECT_EQ(programMixer().busyEffectChannels() - before, tried.afterRow) << static_cast<int>(tried.mode);
        pressKey(static_cast<uint16_t>(game->launch.keys[0]));
        EXPECT_EQ(programMixer().busyEffectChannels() - before, tried.afterPress) << static_cast<int>(tried.mode);
        game->assist.tick->stop();
        game->assist.hit->stop();
    }
}
