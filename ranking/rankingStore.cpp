// The rule both stores apply when keeping a play: its presses are its key.
#include "ranking/rankingStore.h"

TrankedPlayKept keptAfter(TrankedPlay play, const std::optional<TrankedPlay>& earlier) {
    if (earlier && earlier->playerId == play.playerId) return {*earlier, true};
    if (earlier && play.reason.empty())
        play.reason = "These presses were already sent by another player (play " + std::to_string(earlier->id) + ").";
    play.verified = play.reason.empty();
    return {play, false};
}
