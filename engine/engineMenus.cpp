// Song select and marker select: the song wheel, difficulties and skin previews.
#include "engine/trellikGL38Engine.h"

#include "platform/pathResolver.h"
#include "platform/soundEngine.h"

namespace {

bool drawMenu(TtrellikGL& game) {
    clearScreen(game.window->customCommands);
    return true;
}

// The song's own preview, else its music, else the menu music.
std::string previewFile(const std::string& songName) {
    const std::string candidates[] = {"sng\\" + songName + "_prev.mp3", "sng\\" + songName + ".mp3"};
    for (const std::string& candidate : candidates)
        if (pathExists(candidate)) return candidate;
    return "snd\\mainmenu.mp3";
}

void playPreview(TtrellikGL& game) {
    Tstream* music = game.audio.music;
    if (!music) return;
    music->stop();
    music->open(resolvePath(previewFile(getSongName(game.songs, game.menu.selectedSong))));
    music->play();
    music->setLooping(true);
}

}  // namespace

const Scene songSelectScene = {drawMenu, escapeEndsRun, nullptr};
const Scene markerSelectScene = {drawMenu, escapeEndsRun, nullptr};

void selectSong(TtrellikGL& game, int32_t index) {
    game.menu.selectedSong = index;
    playPreview(game);
}
