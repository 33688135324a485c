// Starts the launcher music, fetching it first when it is missing.
#include "launcher/launcherMusic.h"

#include <exception>

#include "platform/net/downloadFileCode.h"
#include "platform/store/pathResolver.h"

namespace {

// Fetches the music; the text of the failure, or empty.
std::string fetchMusic(const std::string& localPath) {
    try {
        if (downloadFile(updateServerUrl() + launcherMusicPath, localPath, false)) return "";
        return "The launcher music \"" + std::string(launcherMusicPath) + "\" could not be downloaded.";
    } catch (const std::exception& error) {
        return error.what();
    }
}

}  // namespace

std::string TlauncherMusic::start() {
    createFolders("SND");
    sounds = std::make_unique<Tsounds>();
    music = std::make_unique<Tstream>();
    const std::string localPath = resolvePath(launcherMusicPath);
    std::string failure;
    if (!pathExists(localPath)) failure = fetchMusic(localPath);
    if (failure.empty() && music->open(localPath)) {
        music->play();
        music->setLooping(true);
    }
    return failure;
}
