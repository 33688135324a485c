// The launcher music: the sound system, the one music stream the game run shares, and its loop.
#pragma once

#include <memory>
#include <string>

#include "platform/sound/soundEngine.h"

class TlauncherMusic {
public:
    // Creates the folder "SND", the sound system and the music stream; fetches the music from
    // the update server when it is missing, without announcement, and plays it looping. Returns
    // the text of a failed fetch (the music is then silent), or empty text.
    std::string start();

    // The stream, alive from start() for the rest of the program.
    Tstream* musicStream() const { return music.get(); }
    Tsounds* soundSystem() const { return sounds.get(); }

private:
    std::unique_ptr<Tsounds> sounds;
    std::unique_ptr<Tstream> music;
};

// Where the launcher music lives, locally and on the update server.
inline constexpr const char* launcherMusicPath = "snd/loadingmenumusic.mp3";
