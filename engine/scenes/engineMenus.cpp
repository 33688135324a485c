// Song select and marker select: the song wheel, difficulties and skin previews, all played on
// the sixteen panels.
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "content/trellikSongDataLoader.h"
#include "engine/performanceCounterTimer.h"
#include "engine/trellikGL38Engine.h"
#include "platform/store/pathResolver.h"
#include "platform/store/sha256.h"
#include "platform/sound/soundEngine.h"

namespace {

constexpr int32_t scrollLeftKey = 12;
constexpr int32_t scrollRightKey = 13;
constexpr int32_t markerSelectKey = 14;
constexpr int32_t goKey = 15;
constexpr int32_t jacketKeys = 12;

constexpr uint8_t glowShown = 200;
constexpr uint8_t glowHidden = 0;
constexpr long double dimmingAlpha = 0.85L;
constexpr float overlaySize = 50.0f;
constexpr float overlayDepth = -20.0f;
// Above the best score, in console space.
constexpr float songLinesX = 33.0f;
constexpr float songLinesY = 16.0f;

// Columns of the wheel's ring: three songs a column, at least one column.
int32_t wheelColumns(const TtrellikGL& game) {
    return (shownSongCount(game) - 1) / game.layout.wheelRows + 1;
}

// Where the jacket of the i-th item of a three-row menu sits on the y axis.
double menuRowY(const TtrellikGL& game, int32_t item) {
    const double pitch = game.layout.pitch;
    return 1.5 * pitch + game.yOffset - (item % game.layout.wheelRows) * pitch;
}

bool insideWheel(const TtrellikGL& game, double x) {
    return game.layout.wheelMinX < x && x < game.layout.wheelMaxX;
}

void drawWhiteQuad(TtrellikGL& game, uint32_t texture, double x, double y, double edge) {
    const TopenGLEngine* window = drawingWindow(game);
    if (!window) return;
    const float size = static_cast<float>(edge);
    drawTexturedQuad(window->customCommands, texture, static_cast<float>(x), static_cast<float>(y),
                     static_cast<float>(game.depth), size, size, 255, 255, 255, 255);
}

// A white quad on the panel of a key index.
void drawOnKeyPanel(TtrellikGL& game, uint32_t texture, int32_t keyIndex, double edge) {
    const TpanelCentre& centre = game.panels[transposeIndex(keyIndex)];
    drawWhiteQuad(game, texture, centre.x, centre.y, edge);
}

void drawJacket(TtrellikGL& game, const TwheelJacket& jacket, double edge) {
    const TopenGLEngine* window = drawingWindow(game);
    if (!window) return;
    const uint8_t glow = jacket.song == game.menu.selectedSong ? glowShown : glowHidden;
    drawFramedQuad(window->customCommands, shownJacket(game, jacket.song), game.textures.jacketBorder,
                   game.textures.jacketGlow, glow, static_cast<float>(edge), static_cast<float>(jacket.x),
                   static_cast<float>(menuRowY(game, jacket.slot)), static_cast<float>(game.depth));
}

void drawMenuButtons(TtrellikGL& game) {
    const double edge = game.layout.buttonSize;
    drawOnKeyPanel(game, game.textures.leftArrow, scrollLeftKey, edge);
    drawOnKeyPanel(game, game.textures.rightArrow, scrollRightKey, edge);
    drawOnKeyPanel(game, game.textures.markerSelectButton, markerSelectKey, edge);
    drawOnKeyPanel(game, game.textures.goButton, goKey, edge);
}

void clearFrame(TtrellikGL& game) {
    if (TopenGLEngine* window = drawingWindow(game)) clearScreen(window->customCommands);
}

// Everything drawn so far, darkened behind the skin previews.
void dimEverything(TtrellikGL& game) {
    const TopenGLEngine* window = drawingWindow(game);
    if (!window) return;
    drawTexturedQuad(window->customCommands, game.textures.fade, 0.0f, 0.0f, overlayDepth, overlaySize, overlaySize,
                     0, 0, 0, dimmingAlpha);
}

void drawSkinPreviews(TtrellikGL& game) {
    const double pitch = game.layout.pitch;
    for (int32_t skin = 0; skin < game.markers.nameCount; ++skin) {
        const double x = (skin / game.layout.wheelRows) * pitch - 1.5 * pitch;
        if (!insideWheel(game, x)) continue;
        const double edge = skin == game.menu.selectedMarker ? game.layout.jacketSizeSelected : game.layout.jacketSize;
        drawWhiteQuad(game, getPreview(game.markers, skin + 1), x, menuRowY(game, skin), edge);
    }
}

// The selected song's group and name, and a mark when its chart at the chosen difficulty cannot be
// read; a song directly in the song folder with a sound chart shows nothing, as before groups.
std::vector<std::string> selectedSongLines(TtrellikGL& game) {
    std::vector<std::string> lines;
    const Tsong* song = songAt(game.songs, game.menu.selectedSong);
    if (!song || !game.window) return lines;
    if (!song->group.empty()) {
        lines.push_back(composedLatin(song->group));
        lines.push_back("  " + composedLatin(song->name));
    }
    const int32_t difficulty = colourIndex(game.window->customCommands);
    if (difficulty >= 0 && difficulty < difficultyCount && song->hasChart[difficulty] &&
        !song->charts[difficulty].readable) lines.push_back("CHART CANNOT BE READ");
    return lines;
}

void drawSelectedSongLines(TtrellikGL& game) {
    if (!drawingWindow(game)) return;
    const std::vector<std::string> lines = selectedSongLines(game);
    if (!lines.empty()) drawTextColumn(game, lines, songLinesX, songLinesY);
}

bool drawSongSelect(TtrellikGL& game) {
    updateSongWheel(game);
    clearFrame(game);
    drawWheel(game, game.layout.jacketSizeSelected, game.layout.jacketSize);
    drawSideMasks(game);
    drawGrid(game);
    drawSelectedJacket(game);
    drawSelectedBest(game);
    drawWorldBest(game);
    drawSelectedSongLines(game);
    drawFinderLines(game);
    drawPracticeChoice(game);
    drawAssistLine(game);
    return true;
}

bool drawMarkerSelect(TtrellikGL& game) {
    clearFrame(game);
    drawWheel(game, game.layout.jacketSizeDimmed, game.layout.jacketSizeDimmed);
    dimEverything(game);
    drawSkinPreviews(game);
    drawOnKeyPanel(game, game.textures.backButton, markerSelectKey, game.layout.buttonSize);
    drawSideMasks(game);
    drawGrid(game);
    drawPracticeChoice(game);
    return true;
}

void playPreview(TtrellikGL& game) {
    Tstream* music = game.audio.music;
    if (!music) return;
    music->stop();
    music->open(resolvePath(previewFile(getSongName(game.songs, game.menu.selectedSong))));
    music->play();
    music->setLooping(true);
}

// One column along the wheel: the scroll runs from -C to C columns of a ring of C. One step past
// either end jumps the wheel a whole ring back, so the easing goes on without a visible jump. The
// target follows the whole-column scroll, so it never drifts from the slots the keys select.
void scrollWheel(TtrellikGL& game, int32_t step) {
    TmenuState& menu = game.menu;
    const int32_t columns = wheelColumns(game);
    const double pitch = game.layout.pitch;
    menu.wheelScroll += step;
    if (std::abs(menu.wheelScroll) > columns) {
        menu.wheelScroll -= step * columns;
        menu.wheelPosition -= step * columns * pitch;
    }
    menu.wheelTarget = menu.wheelScroll * pitch;
}

// The song under a jacket key, counted round the ring; -1 for a slot the ring has no song in.
int32_t songUnderKey(const TtrellikGL& game, int32_t keyIndex) {
    const int32_t rows = game.layout.wheelRows;
    const int32_t slots = rows * wheelColumns(game);
    const int32_t slot = keyIndex / 4 + rows * (keyIndex % 4 - game.menu.wheelScroll);
    const int32_t wrapped = (slot % slots + slots) % slots;
    return shownSongAt(game, wrapped);
}

void pressJacket(TtrellikGL& game, int32_t keyIndex) {
    const int32_t song = songUnderKey(game, keyIndex);
    if (song == -1) return;
    if (song == game.menu.selectedSong) nextColour(game.window->customCommands);
    else selectSong(game, song);
}

void returnToSongSelect(TtrellikGL& game) {
    installDrawHandler(game, songSelectScene.draw);
    installKeyDownHandler(game, songSelectScene.keyDown);
}

}  // namespace

const Scene songSelectScene = {drawSongSelect, songSelectKeys, nullptr};
const Scene markerSelectScene = {drawMarkerSelect, markerSelectKeys, nullptr};

std::string previewFile(const std::string& songName) {
    const std::string candidates[] = {"sng\\" + songName + "_prev.mp3", "sng\\" + songName + ".mp3"};
    for (const std::string& candidate : candidates)
        if (pathExists(candidate)) return candidate;
    return "snd\\mainmenu.mp3";
}

std::string chartFileOf(const std::string& songName, int32_t difficulty) {
    return "sng\\" + songName + std::to_string(difficulty) + ".txt";
}

std::string chartFileName(const TtrellikGL& game) {
    return chartFileOf(getSongName(game.songs, game.menu.selectedSong), colourIndex(game.window->customCommands));
}

std::string musicFileOf(const std::string& songName) {
    return "sng\\" + songName + ".mp3";
}

void startChosenSong(TtrellikGL& game) {
    // Without its music a play would end at once with every marker missed, and be kept as a best.
    const std::string songName = getSongName(game.songs, game.menu.selectedSong);
    if (!pathExists(musicFileOf(songName))) {
        game.wheel.notice = "NO MUSIC: " + songName + ".mp3 IS MISSING";
        return;
    }
    const std::string fileName = chartFileName(game);
    if (!loadChart(game.chart, fileName, game.launch.songDebug)) return;
    game.play.chartSha256 = fileSha256(resolvePath(fileName));
    startSong(game);
}

void selectSong(TtrellikGL& game, int32_t index) {
    game.menu.selectedSong = index;
    game.wheel.notice.clear();
    playPreview(game);
}

// Only the columns inside the wheel are visited, so a big library costs no more a frame than a
// small one: column j of the endless wheel is column j mod C of the ring of C.
std::vector<TwheelJacket> wheelJackets(const TtrellikGL& game) {
    const double pitch = game.layout.pitch;
    const int32_t rows = game.layout.wheelRows;
    const int32_t columns = wheelColumns(game);
    const int32_t count = shownSongCount(game);
    const double columnZeroX = game.menu.wheelPosition - 1.5 * pitch;
    const int32_t first = static_cast<int32_t>(std::floor((game.layout.wheelMinX - columnZeroX) / pitch));
    const int32_t last = static_cast<int32_t>(std::ceil((game.layout.wheelMaxX - columnZeroX) / pitch));
    std::vector<TwheelJacket> jackets;
    for (int32_t j = first; j <= last; ++j) {
        const double x = columnZeroX + j * pitch;
        if (!insideWheel(game, x)) continue;
        const int32_t column = (j % columns + columns) % columns;
        for (int32_t row = 0; row < rows && column * rows + row < count; ++row)
            jackets.push_back({shownSongAt(game, column * rows + row), x, column * rows + row});
    }
    return jackets;
}

void drawWheel(TtrellikGL& game, double selectedEdge, double otherEdge) {
    updateJackets(game);
    for (const TwheelJacket& jacket : wheelJackets(game)) {
        const double edge = jacket.song == game.menu.selectedSong ? selectedEdge : otherEdge;
        drawJacket(game, jacket, edge);
    }
    drawMenuButtons(game);
}

void easeWheel(TtrellikGL& game) {
    TmenuState& menu = game.menu;
    menu.wheelPosition += (menu.wheelTarget - menu.wheelPosition) / game.layout.wheelEase;
}

void showSongSelectAfterSong(TtrellikGL& game) {
    installScene(game, songSelectScene);
    game.menu.cameAfterSongAtMs = readHighResolutionMs();
}

bool songSelectKeys(TtrellikGL& game, uint16_t key, double atMs) {
    // Presses queued while a song ended (Escape, no results between) belong to the play.
    if (!pressedSinceSceneCame(atMs, game.menu.cameAfterSongAtMs)) return false;
    if (songFinderKeys(game, key)) return false;
    if (practiceSelectKey(game, key)) return false;
    const int32_t keyIndex = keyIndexOf(game, key);
    if (keyIndex == scrollLeftKey) scrollWheel(game, -1);
    else if (keyIndex == scrollRightKey) scrollWheel(game, 1);
    else if (keyIndex == markerSelectKey) installScene(game, markerSelectScene);
    else if (keyIndex == goKey) startChosenSong(game);
    else if (keyIndex >= 0 && keyIndex < jacketKeys) pressJacket(game, keyIndex);
    else if (key == keyAssistSwitch) switchAssistMode(game);
    return key == keyEscape;
}

bool markerSelectKeys(TtrellikGL& game, uint16_t key, double) {
    const int32_t keyIndex = keyIndexOf(game, key);
    if (keyIndex >= 0 && keyIndex < jacketKeys) {
        const int32_t skin = keyIndex / 4 + game.layout.wheelRows * (keyIndex % 4);
        if (skin < game.markers.nameCount) game.menu.selectedMarker = skin;
    }
    practicePanelKey(game, keyIndex);
    if (keyIndex == markerSelectKey || key == keyEscape) returnToSongSelect(game);
    return false;
}
