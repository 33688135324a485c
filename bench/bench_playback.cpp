// How exactly play places beats and judges presses: a generated song of a minute played through
// the window loop, the play tick and the sound engine on the silent clocked output, its markers
// pressed through the X server; then again with every frame made slow on purpose. Under
// TRELLIK_PRESS_TIME=dispatch only the press figures are printed, named with "_dispatch".
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench/support/playFigures.h"
#include "bench/support/playSession.h"
#include "bench/support/xTestPresser.h"
#include "engine/trellikGL38Engine.h"
#include "platform/sound/audioEngine.h"
#include "platform/sound/audioMixer.h"
#include "platform/sound/soundEngine.h"

namespace {

// A frame as long as a busy machine's: a press that waits for the loop waits up to this long.
constexpr double slowFrameMs = 12.0;

struct TplayedSong {
    TplaySessionResult result;
    std::vector<TblockRecord> blockLog;
    TmusicLine line;
};

// One game record per play, as each play opens its own window.
std::optional<TplayedSong> playGeneratedSong(const TgeneratedSong& song, double minimumFrameMs) {
    TxTestPresser presser;
    if (!presser.ready()) {
        std::fprintf(stderr, "cannot press keys through the X server\n");
        return std::nullopt;
    }
    Tsounds sounds;
    Tstream music;
    auto game = std::make_unique<TtrellikGL>();
    const LaunchParameters parameters = defaultLaunchParameters("bench");
    for (int i = 0; i < 16; ++i) game->launch.keys[i] = parameters.keys[i];
    game->audio.sounds = &sounds;
    game->audio.music = &music;
    game->songs.songs.resize(1);
    game->songs.songs[0].name = song.name;
    fillChart(game->chart, song);

    TplayedSong played;
    programMixer().startBlockLog(200000);
    played.result = playSongThroughX(*game, presser, minimumFrameMs, song.seconds + 30.0);
    played.blockLog = programMixer().takeBlockLog();
    played.line = fitMusicLine(played.blockLog, played.result.endedAt);
    if (!played.result.ended || played.line.blocks < 2) {
        std::fprintf(stderr, "the song did not play to its end\n");
        return std::nullopt;
    }
    std::printf("rows %zu, presses %zu, final score %d, music blocks %zu, short music blocks %zu\n",
                played.result.rows.size(), played.result.presses.size(), played.result.finalScore.displayScore(),
                played.line.blocks, shortMusicBlocks(played.blockLog, played.result.endedAt));
    return played;
}

}  // namespace

int main() {
    TscratchFolder folder;
    TgeneratedSong song;
    song.seconds = 64.0;
    song.firstRowSeconds = 2.0;
    song.rowSpacingSeconds = 0.25;
    song.rows = 240;
    if (folder.path.empty() || !writeSongMusic(song, folder.path)) {
        std::fprintf(stderr, "cannot write the generated song\n");
        return 1;
    }
    const std::optional<TplayedSong> played = playGeneratedSong(song, 0.0);
    if (!played) return 1;
    if (!pressesTimedAtDispatch()) {
        // The song's rows as the game had them, for their times.
        auto chart = std::make_unique<TsongParser>();
        fillChart(*chart, song);
        printFigure("beat_placement_error", beatPlacementErrors(*chart, played->result, played->line));
        // A row's beat moves by twice the lateness of the tick that activates it (once for the
        // music having moved on, once for the offset that carries it), so this explains the tail.
        printFigure("activation_tick_lateness", activationTickLateness(played->result));
    }
    printFigure(pressFigureName("press_judging_error").c_str(), pressJudgingErrors(played->result));

    const std::optional<TplayedSong> slow = playGeneratedSong(song, slowFrameMs);
    if (!slow) return 1;
    printFigure(pressFigureName("press_judging_error_slow_frames").c_str(), pressJudgingErrors(slow->result));
    return 0;
}
