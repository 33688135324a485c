// The rule both stores apply when keeping a play: its presses are its key.
#include "ranking/rankingStore.h"

TrankedPlayKept keptAfter(TrankedPlay play, const std::optional<TrankedPlay>& earlier) {
    if (earlier && earlier->playerId == play.playerId) return {*earlier, true};
    if (earlier && play.reason.empty())
        play.reason = "These presses were already sent by another player (play " + std::to_string(earlier->id) + ").";
    play.verified = play.reason.empty();
    return {play, false};
}

void ownedDifficulty(TrankedPlay& play, int32_t chartDifficulty) {
    if (!play.verified || play.difficulty == chartDifficulty) return;
    play.verified = false;
    play.reason = "This chart is ranked as difficulty " + std::to_string(chartDifficulty) + ".";
}

void rankLines(std::vector<TleaderboardLine>& lines) {
    for (size_t index = 0; index < lines.size(); ++index)
        lines[index].rank = index > 0 && lines[index].score == lines[index - 1].score ? lines[index - 1].rank
                                                                                      : static_cast<int32_t>(index + 1);
}

std::string playerNameKey(const std::string& name) {
    std::string key;
    for (const char c : name) {
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        key += lower == '1' || lower == 'i' ? 'l' : lower == '0' ? 'o' : lower;
    }
    return key;
}
