// The ranking in the game: kept plays queued for the server, the outcome on the results, and the
// world best beside the player's best on song select.
#include <filesystem>
#include <string>
#include <vector>

#include "engine/trellikGL38Engine.h"
#include "platform/store/pathResolver.h"
#include "platform/store/sha256.h"
#include "platform/window/globalConsoleCode.h"

namespace {

// The results' text column holds this many characters across the narrowest window.
constexpr size_t resultsLineLength = 64;
// Console space: the line under song select's best and clear mark.
constexpr float worldBestX = 33.0f;
constexpr float worldBestY = 8.75f;

std::string chartPathOf(const TtrellikGL& game, int32_t song, int32_t difficulty) {
    std::error_code error;
    const std::string path = resolvePath(chartFileOf(getSongName(game.songs, song), difficulty));
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

// The chart song select shows, hashed again only when the selection changes.
const std::string& selectedChartSha256(TtrellikGL& game) {
    TrankingState& ranking = game.ranking;
    const int32_t song = game.menu.selectedSong;
    const int32_t difficulty = game.window ? colourIndex(game.window->customCommands) : 0;
    if (ranking.song != song || ranking.difficulty != difficulty) {
        ranking.song = song;
        ranking.difficulty = difficulty;
        ranking.chartSha256 = fileSha256(chartPathOf(game, song, difficulty));
    }
    return ranking.chartSha256;
}

}  // namespace

void startRanking(TtrellikGL& game) {
    if (game.launch.settingsFile.empty() || game.launch.recordsPath.empty() || game.ranking.submitter) return;
    TsettingsStore store(game.launch.settingsFile);
    store.open();
    const TrankingSettings settings = readRankingSettings(store);
    if (settings.serverUrl.empty()) return;
    game.ranking.submitter =
        std::make_unique<TrankingSubmitter>(game.launch.recordsPath, game.launch.settingsFile, settings);
}

void stopRanking(TtrellikGL& game) {
    game.ranking.submitter.reset();
}

void offerForRanking(TtrellikGL& game) {
    const int64_t playId = game.results.keptPlayId;
    if (!game.ranking.submitter || playId == 0 || !game.records) return;
    if (playSourceOf(game) != TplaySource::player) return;
    // The ranking compares full plays at the song's own speed; practice and other rates stay local.
    if (game.practice.practicing || musicRate(game) != 1.0) return;
    const std::string chartPath = chartPathOf(game, game.menu.selectedSong, game.results.difficulty);
    if (!game.records->queueForRanking(playId, newClientPlayId(), chartPath)) {
        consoleWriteLine("This play cannot be queued for the ranking: " + game.records->lastError());
        return;
    }
    game.ranking.submitter->playQueued(playId);
}

std::vector<std::string> wrappedLines(const std::string& text, size_t width) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (text.size() - start > width) {
        const size_t space = text.rfind(' ', start + width);
        const size_t end = space == std::string::npos || space <= start ? start + width : space;
        lines.push_back(text.substr(start, end - start));
        start = end < text.size() && text[end] == ' ' ? end + 1 : end;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::vector<std::string> rankingLines(TtrellikGL& game) {
    if (!game.ranking.submitter || game.results.keptPlayId == 0) return {};
    return wrappedLines(game.ranking.submitter->lineFor(game.results.keptPlayId), resultsLineLength);
}

void drawWorldBest(TtrellikGL& game) {
    // The world best is of full plays at 1.00x; the line is the rate's while another is chosen.
    if (!drawingWindow(game) || !game.ranking.submitter || !fullPlayAtOwnSpeed(game)) return;
    const std::string& chartSha256 = selectedChartSha256(game);
    if (chartSha256.empty()) return;
    const TworldBest best = game.ranking.submitter->worldBest(chartSha256, game.ranking.difficulty);
    if (!best.known) return;
    drawTextColumn(game, {"WORLD " + std::to_string(best.score) + "  " + best.name}, worldBestX, worldBestY);
}
