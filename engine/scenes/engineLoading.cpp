// The loading sequence: the first draw call sets the engine up, fetches and loads the stock
// sounds and images, the songs and the marker skins, and reports each step on the console.
#include <cstdio>
#include <exception>
#include <functional>
#include <iterator>
#include <string>
#include <utility>

#include "content/textureControlCode.h"
#include "engine/assistSounds.h"
#include "engine/trellikGL38Engine.h"
#include "platform/buildNumber.h"
#include "platform/clockSeam.h"
#include "platform/net/downloadFileCode.h"
#include "platform/store/pathResolver.h"
#include "platform/sound/audioEngine.h"
#include "platform/sound/soundEngine.h"

namespace {

// One console line below the banner's frame.
constexpr float progressLineY = 2.5f;

// A stock image: its console label, its path and the texture it fills.
struct TstockImage {
    const char* label;
    const char* path;
    uint32_t TstockTextures::*texture;
};

const TstockImage menuImages[] = {
    {"Loading Logo...", "gfx/bigLogo.tga", &TstockTextures::logo},
    {"Loading fade texture...", "gfx/blank.tga", &TstockTextures::fade},
    {"Loading Menu Left Arrow Button...", "gfx/leftArrow.tga", &TstockTextures::leftArrow},
    {"Loading Menu Right Arrow Button...", "gfx/rightArrow.tga", &TstockTextures::rightArrow},
    {"Loading Menu Marker Select Button...", "gfx/markerButton.tga", &TstockTextures::markerSelectButton},
    {"Loading Menu GO Button...", "gfx/goButton.tga", &TstockTextures::goButton},
    {"Loading Marker Menu Back Button...", "gfx/backButton.tga", &TstockTextures::backButton},
};

const TstockImage jacketImages[] = {
    {"Jacket Border...", "gfx/coverBorder.tga", &TstockTextures::jacketBorder},
    {"Jacket Glow...", "gfx/coverGlow.tga", &TstockTextures::jacketGlow},
    {"\"Start Here\" Marker...", "gfx/startHere.tga", &TstockTextures::startHere},
};

const TstockImage playImages[] = {
    {"\"Combo\" Text...", "gfx/comboText.tga", &TstockTextures::comboLabel},
    {"Top Shutter...", "gfx/topShutter.tga", &TstockTextures::topShutter},
    {"Bottom Shutter...", "gfx/btmShutter.tga", &TstockTextures::bottomShutter},
    {"Panel Highlight...", "gfx/panelHighlight.tga", &TstockTextures::panelHighlight},
};

const char* const dataFolders[] = {"GFX", "MKR", "SND", "SNG"};

// The console frame of the loading screen: the banner under the console lines.
void render(TtrellikGL& game) {
    consoleDrawFrame([&game] { drawBanner(game); });
}

// Runs one fetch or load that may fail to reach the server. The sequence goes on without the
// file; the reason is put on a line of its own so the player and the log both see it.
void goingOnAfterFailure(const std::function<void()>& step) {
    try {
        step();
    } catch (const std::exception& error) {
        consoleWriteLine("");
        consoleWriteLine(error.what());
    }
}

void downloadIfMissing(const std::string& path) {
    if (!pathExists(path)) goingOnAfterFailure([&path] { downloadFile(updateServerUrl() + path, path, true); });
}

void loadImage(const char* path, uint32_t& texture, bool announce) {
    goingOnAfterFailure([&] { TtextureLoader::loadTextureOrDownload(path, texture, announce); });
}

void resetEngineState(TtrellikGL& game) {
    for (uint8_t& pressed : game.play.pressed) pressed = 0;
    if (TopenGLEngine* window = drawingWindow(game)) window->disableDepthTest();
    game.depth = depthForScale(game.scale);
    game.layout = TlayoutConstants{};
    const double pitch = game.layout.pitch;
    for (int32_t panel = 0; panel < 16; ++panel) {
        game.panels[panel].x = (panel / 4) * pitch - 1.5 * pitch;
        game.panels[panel].y = 1.5 * pitch - (panel % 4) * pitch + game.yOffset;
    }
    game.timing = TtimingConstants{};
    game.menu.selectedSong = 0;
    game.menu.selectedMarker = 0;
}

// The sound system and music stream come from the launcher; a run without one makes its own.
void provideSoundObjects(TtrellikGL& game) {
    TownedSounds& owned = game.ownedAudio;
    if (!game.audio.sounds) {
        owned.sounds = std::make_shared<Tsounds>();
        game.audio.sounds = owned.sounds.get();
    }
    if (!game.audio.music) {
        owned.music = std::make_shared<Tstream>();
        game.audio.music = owned.music.get();
    }
}

Tsfx* loadEffect(std::shared_ptr<Tsfx>& effect, const std::string& path) {
    effect = std::make_shared<Tsfx>();
    effect->load(resolvePath(path));
    return effect.get();
}

void checkFolders(TtrellikGL& game) {
    consoleWrite("Checking data folders; creating if necessary...");
    render(game);
    // A folder that cannot be made shows up later as files that cannot be stored or found.
    for (const char* folder : dataFolders) createFolders(folder);
    consoleWriteLine("DONE!");
    render(game);
    consoleWriteLine("");
    consoleWrite("If you can hear music then FMOD is Loaded!");
    consoleWriteLine("");
    consoleWriteLine(programOutputReport().line);
    consoleWriteLine("I hope your firewall is off or at least lets me through!");
    consoleWriteLine("");
    render(game);
}

void loadSounds(TtrellikGL& game) {
    consoleWriteLine("Loading sounds and downloading if necessary:");
    consoleWriteLine("");
    consoleWrite("Main Menu music...");
    render(game);
    downloadIfMissing("snd\\mainmenu.mp3");
    consoleWriteLine("DONE!");
    consoleWrite("\"Ready Go!\" Sound...");
    render(game);
    downloadIfMissing("snd\\readyGo.mp3");
    game.audio.readyGo = loadEffect(game.ownedAudio.readyGo, "snd\\readyGo.mp3");
    consoleWriteLine("DONE!");
    consoleWrite("gobutton sound...");
    render(game);
    // Looked for in any case, fetched and loaded in the case the server has.
    if (!pathExists("snd\\gobutton.mp3")) downloadIfMissing("snd\\goButton.mp3");
    consoleWriteLine("DONE!");
    game.audio.goButton = loadEffect(game.ownedAudio.goButton, "snd\\goButton.mp3");
    // Loaded only when an assist is switched on, but fetched now like every stock sound: a
    // player who switches one on later finds the file there.
    const std::pair<const char*, const char*> assistSounds[] = {{"Assist tick sound...", assistTickFile},
                                                                {"Hit sound...", hitSoundFile}};
    for (const auto& [label, file] : assistSounds) {
        consoleWrite(label);
        render(game);
        downloadIfMissing(file);
        consoleWriteLine("DONE!");
    }
}

void loadStockImages(TtrellikGL& game, const TstockImage* images, size_t count, bool renderAfter) {
    for (size_t i = 0; i < count; ++i) {
        consoleWrite(images[i].label);
        render(game);
        loadImage(images[i].path, game.textures.*images[i].texture, true);
        consoleWriteLine("DONE!");
        if (renderAfter) render(game);
    }
}

void loadDigits(TtrellikGL& game) {
    consoleWriteLine("");
    consoleWrite("Large Numbers for score display etc: ");
    render(game);
    for (int digit = 0; digit <= 9; ++digit) {
        loadImage(("gfx/" + std::to_string(digit) + ".tga").c_str(), game.textures.digits[digit], false);
        consoleWrite(std::to_string(digit) + " ");
        render(game);
    }
    consoleWriteLine("DONE!");
    consoleWriteLine("");
}

void loadTextures(TtrellikGL& game) {
    consoleWriteLine("");
    consoleWriteLine("Loading textures and downloading if necessary:");
    consoleWriteLine("");
    loadStockImages(game, menuImages, std::size(menuImages), false);
    consoleWriteLine("");
    consoleWriteLine("Loading Jacket Textures:");
    consoleWriteLine("");
    render(game);
    loadStockImages(game, jacketImages, std::size(jacketImages), true);
    loadDigits(game);
    loadStockImages(game, playImages, std::size(playImages), true);
}

// The song scan's progress under the banner while a big library is read.
void drawProgressLine(TtrellikGL& game, const std::string& line) {
    const TopenGLEngine* window = drawingWindow(game);
    if (window && !line.empty()) drawLine(window->console, line, 0.0f, progressLineY);
}

// The song table and the skin table: a default jacket that cannot be fetched leaves that song
// without a jacket instead of ending the loading.
void loadContent(TtrellikGL& game) {
    std::string progress;
    TloaderSteps steps = gameLoaderSteps([&game, &progress] {
        drawBanner(game);
        drawProgressLine(game, progress);
    });
    steps.loadImageOrDownload = [](const std::string& path, uint32_t& texture, bool announce) {
        goingOnAfterFailure([&] { TtextureLoader::loadTextureOrDownload(path, texture, announce); });
    };
    consoleWriteLine("");
    TsongListOptions options;
    options.cachePath = songCachePathBeside(game.launch.recordsPath);
    options.showProgress = [&progress, &steps](const std::string& line) {
        progress = line;
        steps.refresh();
    };
    // Jackets are scaled as they load, as those loaded in song select are; a skin's frames are not.
    TloaderSteps songSteps = steps;
    songSteps.loadImage = gameSongLoaderSteps(nullptr).loadImage;
    loadSongsWith(game.songs, songFolder, songSteps, options);
    progress.clear();
    if (getLastIndex(game.songs) == -1) consoleWriteLine("Err... you might want to download some songs...");
    consoleWriteLine("");
    loadMarkersWith(game.markers, "MKR\\", steps);
}

void finishLoading(TtrellikGL& game, uint32_t start) {
    consoleWriteLine("");
    consoleWriteLine("Loading completed.");
    consoleWriteLine(timeTakenLine(activeClock().milliseconds() - start));
    render(game);
    if (TopenGLEngine* window = drawingWindow(game)) closeLog(window->console);
}

bool drawLoading(TtrellikGL& game) {
    resetEngineState(game);
    const uint32_t start = activeClock().milliseconds();
    const int32_t build = getBuildNumber(game.launch.exeName);
    game.versionLine = makeVersionLine(build);
    game.launch.buildNumber = build;
    provideSoundObjects(game);
    consoleWriteLine("Begin load of TrellikGL v3.8." + std::to_string(build));
    consoleWriteLine("");
    checkFolders(game);
    openRecords(game, game.launch.recordsPath);
    startRanking(game);
    loadSounds(game);
    loadTextures(game);
    loadContent(game);
    finishLoading(game, start);
    installDrawHandler(game, bannerFadeScene.draw);
    return true;
}

}  // namespace

const Scene loadingScene = {drawLoading, escapeEndsRun, nullptr};

std::string timeTakenLine(uint32_t elapsedMs) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3g", elapsedMs / 1000.0);
    return std::string("Time Taken: ") + seconds + " seconds";
}
