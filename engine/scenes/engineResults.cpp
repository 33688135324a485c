// The results scene after a song: score, counts, timing figures, the offset histogram and the
// suggested audio offset.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/performanceCounterTimer.h"
#include "engine/trellikGL38Engine.h"
#include "platform/store/settingsStore.h"

namespace {

constexpr const char* difficultyNames[3] = {"BASIC", "ADVANCED", "EXTREME"};
// Key indexes in the player's key order: bottom-right continues; key 12 takes the suggestion.
constexpr int32_t continueKeyIndex = 15;
constexpr int32_t suggestionKeyIndex = suggestionKeyNumber - 1;
// Panel keys wait this long after the scene comes: the last presses of a song, a hand already on
// its way down, must not take the suggestion or leave for song select.
constexpr double panelKeysWaitMs = 1000.0;

// Console space: the text column and the first line, one line every 1.75 units.
constexpr float textX = 0.0f;
constexpr float firstLineY = 7.0f;
// The histogram in play-field space, below the text: 60 bins across six units.
constexpr double histogramLeft = -3.0;
constexpr double histogramBase = -1.7;
constexpr double histogramHeight = 2.0;
constexpr double histogramBinWidth = 6.0 / histogramBins;

// Signed, one decimal; a value that rounds to zero shows as +0.0, never -0.0.
std::string fixedText(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%+.1f", std::fabs(value) < 0.05 ? 0.0 : value);
    return text;
}

std::string countsLine(const TplayResults& figures) {
    std::string line = "PERFECT " + std::to_string(figures.perfect);
    line.append("  GREAT ").append(std::to_string(figures.great));
    line.append("  GOOD ").append(std::to_string(figures.good));
    line.append("  BAD ").append(std::to_string(figures.bad));
    line.append("  MISS ").append(std::to_string(figures.miss));
    return line;
}

std::string timingLine(const TplayResults& figures) {
    std::string line = "EARLY " + std::to_string(figures.early);
    line.append("  LATE ").append(std::to_string(figures.late));
    line.append("  MEAN ").append(fixedText(figures.meanMs)).append(" ms (").append(fixedText(figures.deviationMs).substr(1));
    line.append(")  MEDIAN ").append(fixedText(figures.medianMs)).append(" ms (");
    line.append(fixedText(figures.medianDeviationMs).substr(1)).append(")");
    return line;
}

// The suggestion on two lines, split at its dash: the window is narrow, and the stock font has
// no dash glyph.
std::vector<std::string> suggestionParts(const std::string& suggestion) {
    const std::string dash = " \xE2\x80\x94 ";
    const size_t at = suggestion.find(dash);
    if (at == std::string::npos) return {suggestion};
    return {suggestion.substr(0, at), suggestion.substr(at + dash.size())};
}

void drawTextLines(TtrellikGL& game) {
    const TresultsState& results = game.results;
    const TplayResults& figures = results.figures;
    const std::string title = getSongName(game.songs, game.menu.selectedSong) + "  " +
                              difficultyNames[std::clamp(results.difficulty, 0, 2)];
    std::vector<std::string> lines = {title, "MAX COMBO " + std::to_string(figures.maxCombo), countsLine(figures),
                                      timingLine(figures)};
    if (!results.recordLine.empty()) lines.push_back(results.recordLine);
    for (const std::string& line : practiceResultLines(game)) lines.push_back(line);
    for (const std::string& ranking : rankingLines(game)) lines.push_back(ranking);
    for (const std::string& part : suggestionParts(suggestionLine(results.suggestion, suggestionKeyNumber)))
        lines.push_back(part);
    lines.push_back("Enter: song select");
    drawTextColumn(game, lines, textX, firstLineY);
}

void drawHistogram(TtrellikGL& game) {
    const TplayResults& figures = game.results.figures;
    const double base = game.yOffset + histogramBase;
    const double perfectWidth = 2.0 * game.timing.perfectWindow / histogramBinMs * histogramBinWidth;
    drawTintedQuad(game, 0.0, base + histogramHeight / 2.0, perfectWidth, histogramHeight, 0.2L, 0.4L, 1.0L, 0.35L);
    const int32_t tallest = std::max(1, *std::max_element(figures.histogram.begin(), figures.histogram.end()));
    for (int32_t bin = 0; bin < histogramBins; ++bin) {
        if (figures.histogram[bin] == 0) continue;
        const double height = histogramHeight * figures.histogram[bin] / tallest;
        const double x = histogramLeft + (bin + 0.5) * histogramBinWidth;
        drawTintedQuad(game, x, base + height / 2.0, histogramBinWidth * 0.8, height, 1.0L, 1.0L, 1.0L, 1.0L);
    }
    // The beat itself as a thin line through the middle; the axis with a tick every 100 ms.
    drawTintedQuad(game, 0.0, base + histogramHeight / 2.0, 0.02, histogramHeight, 1.0L, 0.3L, 0.3L, 1.0L);
    drawTintedQuad(game, 0.0, base - 0.02, histogramBins * histogramBinWidth, 0.03, 0.7L, 0.7L, 0.8L, 1.0L);
    for (int32_t bin = 0; bin <= histogramBins; bin += 10)
        drawTintedQuad(game, histogramLeft + bin * histogramBinWidth, base - 0.1, 0.03, 0.15, 0.7L, 0.7L, 0.8L, 1.0L);
}

void leaveResults(TtrellikGL& game) {
    game.results.shown = false;
    returnToSongSelectAfterSong(game);
}

bool resultsTakeKey(const TtrellikGL& game, int32_t keyIndex, double pressedAt) {
    const double shownAt = game.results.shownAtMs;
    return pressedSinceSceneCame(pressedAt, shownAt) && (keyIndex == -1 || pressedAt >= shownAt + panelKeysWaitMs);
}

}  // namespace

bool pressedSinceSceneCame(double pressedAtMs, double sceneCameAtMs) {
    return pressedAtMs >= sceneCameAtMs;
}

void showResults(TtrellikGL& game) {
    TresultsState& results = game.results;
    // A practice play is all its passes: the score drawn above the figures too, not the last pass's.
    finishPassAtSongEnd(game);
    if (game.practice.practicing) game.score = practicePlayScore(game);
    results.figures = playResultsOf(game.score, game.practice.practicing ? game.practice.passPresses : game.play.presses);
    results.difficulty = game.window ? colourIndex(game.window->customCommands) : 0;
    // Only the player's own presses say how they hear the music: a replay plays with the offsets
    // of its day, and autoplay presses on the beat whatever the offset.
    const bool playersOwn = playSourceOf(game) == TplaySource::player;
    results.suggestion = playersOwn ? suggestedOffsetChange(results.figures) : 0;
    results.shown = true;
    results.shownAtMs = readHighResolutionMs();
    results.recordLine = keepPlay(game);
    offerForRanking(game);
    // The gauge's colour belongs to play; the figures read best on the menus' dark blue.
    if (TopenGLEngine* window = drawingWindow(game)) window->setClearColor(0, 0, 0.15L, 1);
    installDrawHandler(game, drawResults);
    installKeyDownHandler(game, resultsKeys);
    installKeyUpHandler(game, nullptr);
}

bool drawResults(TtrellikGL& game) {
    if (TopenGLEngine* window = drawingWindow(game)) clearScreen(window->customCommands);
    drawSelectedJacket(game);
    drawScore(game);
    drawHistogram(game);
    drawTextLines(game);
    return true;
}

bool resultsKeys(TtrellikGL& game, uint16_t key, double atMs) {
    const int32_t keyIndex = keyIndexOf(game, key);
    if (!resultsTakeKey(game, keyIndex, atMs)) return false;
    if (keyIndex == suggestionKeyIndex && game.results.suggestion != 0) {
        addToAudioOffset(game, game.results.suggestion);
        game.results.suggestion = 0;
        return false;
    }
    if (key == keyEnter || key == keyEscape || keyIndex == continueKeyIndex) leaveResults(game);
    return false;
}

void addToAudioOffset(TtrellikGL& game, int32_t change) {
    keepOffsets(game, game.launch.audioOffset + change, game.launch.visualOffset);
}

void keepOffsets(TtrellikGL& game, int32_t audioOffset, int32_t visualOffset) {
    TlaunchCopies& launch = game.launch;
    launch.audioOffset = std::clamp(audioOffset, -largestOffset, largestOffset);
    launch.visualOffset = std::clamp(visualOffset, -largestOffset, largestOffset);
    if (launch.saveOffsets) launch.saveOffsets(launch.audioOffset, launch.visualOffset);
}
