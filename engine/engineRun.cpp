// The game run: launch parameters into the engine record, the window, and scene switching.
#include "engine/trellikGL38Engine.h"

#include "platform/SVATimerCode.h"
#include "platform/buildNumber.h"
#include "platform/net/downloadFileCode.h"
#include "platform/memoryPolicy.h"

LaunchParameters defaultLaunchParameters(const std::string& exeName) {
    LaunchParameters parameters;
    const int32_t keys[16] = {'4', '5', '6', '7', 'R', 'T', 'Y', 'U', 'F', 'G', 'H', 'J', 'V', 'B', 'N', 'M'};
    for (int i = 0; i < 16; ++i) parameters.keys[i] = keys[i];
    parameters.scale = (100 - 33) * 0.009 + 0.1;
    parameters.exeName = exeName;
    return parameters;
}

int32_t keyIndexOf(const TtrellikGL& game, int32_t key) {
    for (int32_t index = 15; index >= 0; --index)
        if ((game.launch.keys[index] & 0xFFFF) == (key & 0xFFFF)) return index;
    return -1;
}

double depthForScale(double scale) {
    return -7.0 / scale;
}

double yOffsetFor(double scale, double yAdjust) {
    return -yAdjust / (scale / 0.7) * 0.27;
}

std::string windowTitleFor(int32_t buildNumber) {
    return "TrellikGL v3.8 BUILD " + std::to_string(buildNumber);
}

void installDrawHandler(TtrellikGL& game, bool (*draw)(TtrellikGL& game)) {
    TopenGLEngine& window = *game.window;
    if (draw) window.onDraw = [&game, draw]() { return draw(game); };
    else window.onDraw = nullptr;
}

void installKeyDownHandler(TtrellikGL& game, TsceneKeyHandler keyDown) {
    TopenGLEngine& window = *game.window;
    if (keyDown) window.onKeyDown = [&game, keyDown](uint16_t key, double atMs) { return keyDown(game, key, atMs); };
    else window.onKeyDown = nullptr;
}

void installKeyUpHandler(TtrellikGL& game, TsceneKeyHandler keyUp) {
    TopenGLEngine& window = *game.window;
    if (keyUp) window.onKeyUp = [&game, keyUp](uint16_t key, double atMs) { return keyUp(game, key, atMs); };
    else window.onKeyUp = nullptr;
}

void installScene(TtrellikGL& game, const Scene& scene) {
    installDrawHandler(game, scene.draw);
    installKeyDownHandler(game, scene.keyDown);
    if (scene.keyUp) installKeyUpHandler(game, scene.keyUp);
}

bool escapeEndsRun(TtrellikGL&, uint16_t key, double) {
    return key == keyEscape;
}

void releaseRunHandlers(TtrellikGL& game) {
    delete game.wheelTimer;
    delete game.playTick;
    delete game.calibration.metronome;
    game.wheelTimer = nullptr;
    game.playTick = nullptr;
    game.calibration.metronome = nullptr;
    stopRanking(game);
    if (!game.window) return;
    TopenGLEngine& window = *game.window;
    window.onInitialise = nullptr;
    window.onClose = nullptr;
    window.onDraw = nullptr;
    window.onKeyUp = nullptr;
    window.onKeyDown = nullptr;
    window.panelKeyAt = nullptr;
}

namespace {

// Ends the run's handlers when the run ends, also when an error ends it, so none of them is
// left pointing at the record after it goes.
class TrunHandlersRelease {
public:
    explicit TrunHandlersRelease(TtrellikGL& game) : game(game) {}
    ~TrunHandlersRelease() { releaseRunHandlers(game); }
    TrunHandlersRelease(const TrunHandlersRelease&) = delete;
    TrunHandlersRelease& operator=(const TrunHandlersRelease&) = delete;

private:
    TtrellikGL& game;
};

}  // namespace

void runGame(TtrellikGL& game, const LaunchParameters& parameters) {
    returnLargeBuffersToTheSystem();
    game.scale = parameters.scale;
    game.depth = depthForScale(parameters.scale);
    game.yOffset = yOffsetFor(parameters.scale, parameters.yAdjust);
    setUpdateServerUrl(defaultUpdateServerUrl());
    game.launch.exeName = parameters.exeName;
    game.launch.highQuality = parameters.quality == 1;
    for (int i = 0; i < 16; ++i) game.launch.keys[i] = parameters.keys[i];
    game.launch.songDebug = parameters.songDebug;
    game.launch.audioOffset = parameters.audioOffset;
    game.launch.visualOffset = parameters.visualOffset;
    game.launch.calibrate = parameters.calibrate;
    game.launch.saveOffsets = parameters.saveOffsets;
    game.practice.choice = parameters.practice;
    game.launch.savePractice = parameters.savePractice;
    game.launch.recordsPath = parameters.recordsPath;
    game.launch.settingsFile = parameters.settingsFile;
    game.replay.play = parameters.replay;
    game.assist.mode = assistModeFromSetting(parameters.assistMode);
    game.assist.volume = assistVolumeFromSetting(parameters.assistVolume);
    game.launch.saveAssistMode = parameters.saveAssistMode;

    game.window = std::make_unique<TopenGLEngine>();
    const TrunHandlersRelease release(game);
    game.window->setCameraRotation(parameters.rotation);
    game.window->setup(parameters.width, parameters.height, parameters.fullscreen,
                       windowTitleFor(getBuildNumber(parameters.exeName)), "font.fnt");
    installKeyDownHandler(game, escapeEndsRun);
    installDrawHandler(game, loadingScene.draw);
    installPanelPointing(game);
    game.window->run();
}
