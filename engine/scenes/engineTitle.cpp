// The title screens: the loading console under a fade, then the logo fading in, holding and
// fading out, and the way into song select.
#include <string>

#include "engine/trellikGL38Engine.h"
#include "platform/SVATimerCode.h"
#include "platform/clockSeam.h"
#include "platform/sound/soundEngine.h"

const char* const bannerLines[10] = {
    "    iiiiiii iiiiii  iiiiiii ii      ii      iiiiii ii   ii    ",
    "    iiiiiii iiiiiii iiiiiii ii      ii      iiiiii ii  ii     ",
    "      iii   ii   ii ii      ii      ii        ii   ii ii      ",
    "      iii   ii   ii ii      ii      ii        ii   iiii       ",
    "      iii   iiiiiii iiiiii  ii      ii        ii   iii        ",
    "      iii   iiiiii  iiiiii  ii      ii        ii   iii        ",
    "      iii   ii  ii  ii      ii      ii        ii   iiii       ",
    "      iii   ii   ii ii      ii      ii        ii   ii ii      ",
    "      iii   ii   ii iiiiiii iiiiiii iiiiiii iiiiii ii  ii     ",
    "      iii   ii   ii iiiiiii iiiiiii iiiiiii iiiiii ii   ii    ",
};

const char* const bannerFrameLine = "   iiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiii   ";

namespace {

// Console-space heights of the banner rows: all above the first console line.
const float bannerRowY[10] = {25.25f, 23.5f, 21.75f, 20.0f, 18.25f, 16.5f, 14.75f, 13.0f, 11.25f, 9.5f};
constexpr float frameTopY = 7.75f;
constexpr float versionLineY = 6.0f;
constexpr float frameBottomY = 4.25f;

// The version line is padded with letters i to this width (less the build number's length).
constexpr int versionPadding = 47;
constexpr uint32_t logoHoldMs = 1500;
constexpr uint32_t wheelTickMs = 15;
constexpr int32_t goKeyIndex = 15;

void clearFrame(TtrellikGL& game) {
    if (TopenGLEngine* window = drawingWindow(game)) clearScreen(window->customCommands);
}

void drawLogo(TtrellikGL& game) {
    const TopenGLEngine* window = drawingWindow(game);
    if (!window) return;
    const float size = static_cast<float>(game.layout.logoSize);
    drawTexturedQuad(window->customCommands, game.textures.logo, 0.0f, 0.0f, static_cast<float>(game.depth), size,
                     size, 255, 255, 255, 255);
}

void setClearColour(TtrellikGL& game, long double red, long double green, long double blue) {
    if (TopenGLEngine* window = drawingWindow(game)) window->setClearColor(red, green, blue, 1);
}

bool drawBannerFade(TtrellikGL& game) {
    clearFrame(game);
    if (TopenGLEngine* window = drawingWindow(game)) drawFrame(window->console, true, nullptr);
    drawBanner(game);
    if (fadeToBlack(game)) {
        if (game.launch.calibrate) startCalibration(game);
        else if (game.replay.play) startReplay(game);
        else enterTitle(game);
    }
    return true;
}

bool drawLogoFadeIn(TtrellikGL& game) {
    clearFrame(game);
    drawLogo(game);
    if (fadeFromBlack(game)) {
        installDrawHandler(game, logoHoldScene.draw);
        game.logoStart = activeClock().milliseconds();
    }
    return true;
}

bool drawLogoHold(TtrellikGL& game) {
    clearFrame(game);
    drawLogo(game);
    if (activeClock().milliseconds() - game.logoStart >= logoHoldMs) installDrawHandler(game, logoFadeOutScene.draw);
    return true;
}

bool drawLogoFadeOut(TtrellikGL& game) {
    clearFrame(game);
    drawLogo(game);
    if (fadeToBlack(game)) enterSongSelect(game);
    return true;
}

void createWheelTimer(TtrellikGL& game) {
    game.wheelTimer = new TSVATimer();
    game.wheelTimer->setInterval(wheelTickMs);
    game.wheelTimer->OnTimer = [&game](TSVATimer&) { easeWheel(game); };
}

}  // namespace

const Scene bannerFadeScene = {drawBannerFade, escapeEndsRun, nullptr};
const Scene logoFadeInScene = {drawLogoFadeIn, titleKeys, nullptr};
const Scene logoHoldScene = {drawLogoHold, titleKeys, nullptr};
const Scene logoFadeOutScene = {drawLogoFadeOut, titleKeys, nullptr};

std::string makeVersionLine(int32_t buildNumber) {
    const std::string build = std::to_string(buildNumber);
    const int letters = versionPadding - static_cast<int>(build.size());
    return "   " + std::string(letters > 0 ? letters : 0, 'i') + " v3.8." + build + " ii";
}

void drawBanner(TtrellikGL& game) {
    const TopenGLEngine* window = drawingWindow(game);
    if (!window) return;
    for (int row = 0; row < 10; ++row) drawLine(window->console, bannerLines[row], 0.0f, bannerRowY[row]);
    drawLine(window->console, bannerFrameLine, 0.0f, frameTopY);
    drawLine(window->console, game.versionLine, 0.0f, versionLineY);
    drawLine(window->console, bannerFrameLine, 0.0f, frameBottomY);
}

void enterTitle(TtrellikGL& game) {
    installDrawHandler(game, logoFadeInScene.draw);
    setClearColour(game, 1, 1, 1);
    installKeyDownHandler(game, titleKeys);
}

bool titleKeys(TtrellikGL& game, uint16_t key, double) {
    if (key == keyEscape) return true;
    if (key == keyEnter || keyIndexOf(game, key) == goKeyIndex) enterSongSelect(game);
    return false;
}

void enterSongSelect(TtrellikGL& game) {
    game.fade.running = 0;
    installDrawHandler(game, songSelectScene.draw);
    setClearColour(game, 0, 0, 0.15L);
    if (game.audio.music) game.audio.music->stop();
    installKeyDownHandler(game, songSelectScene.keyDown);
    // Song select is entered from the title once per run; the timers then live for the run.
    if (!game.wheelTimer) createWheelTimer(game);
    game.wheelTimer->setEnabled(true);
    if (!game.playTick) createPlayTick(game);
    prepareSongWheel(game);
    selectSong(game, game.menu.selectedSong);
}
