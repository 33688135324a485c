// How exactly play places beats and judges presses: a generated song of a minute played through
// the window loop, the play tick and the sound engine on the silent clocked output.
#include <cstdio>
#include <memory>
#include <vector>

#include "bench/support/playFigures.h"
#include "bench/support/playSession.h"
#include "engine/trellikGL38Engine.h"
#include "platform/audioEngine.h"
#include "platform/audioMixer.h"
#include "platform/soundEngine.h"

int main() {
    TscratchFolder folder;
    Tsounds sounds;
    Tstream music;
    auto game = std::make_unique<TtrellikGL>();
    const LaunchParameters parameters = defaultLaunchParameters("bench");
    for (int i = 0; i < 16; ++i) game->launch.keys[i] = parameters.keys[i];
    game->audio.sounds = &sounds;
    game->audio.music = &music;

    TgeneratedSong song;
    song.seconds = 64.0;
    song.firstRowSeconds = 2.0;
    song.rowSpacingSeconds = 0.25;
    song.rows = 240;
    game->songs.lastIndex = 0;
    game->songs.songs[0].name = song.name;
    if (folder.path.empty() || !writeSongMusic(song, folder.path)) {
        std::fprintf(stderr, "cannot write the generated song\n");
        return 1;
    }
    fillChart(game->chart, song);

    programMixer().startBlockLog(200000);
    const TplaySessionResult result = playSong(*game, true, song.seconds + 30.0);
    const std::vector<TblockRecord> blockLog = programMixer().takeBlockLog();
    const TmusicLine line = fitMusicLine(blockLog, result.endedAt);
    if (!result.ended || line.blocks < 2) {
        std::fprintf(stderr, "the song did not play to its end\n");
        return 1;
    }

    std::printf("rows %zu, presses %zu, final score %d, music blocks %zu, short music blocks %zu\n",
                result.rows.size(), result.presses.size(), result.finalScore.displayScore(), line.blocks,
                shortMusicBlocks(blockLog, result.endedAt));
    printFigure("beat_placement_error", beatPlacementErrors(game->chart, result, line));
    printFigure("press_judging_error", pressJudgingErrors(result));
    // A row's beat moves by twice the lateness of the tick that activates it (once for the
    // music having moved on, once for the offset that carries it), so this explains the tail.
    printFigure("activation_tick_lateness", activationTickLateness(result));
    return 0;
}
