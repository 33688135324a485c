// The program's entry: the launcher, or with --start or --calibrate a game run straight away.
#include <cstdio>
#include <exception>
#include <string>

#include "buildVersion.h"
#include "content/latestVersionCode.h"
#include "launcher/commandLine.h"
#include "launcher/launchSettings.h"
#include "launcher/launcherApplication.h"
#include "launcher/launcherWindows.h"
#include "launcher/motdFormCode.h"
#include "launcher/thread_updater.h"
#include "platform/buildNumber.h"
#include "platform/net/downloadFileCode.h"
#include "platform/store/gameFolder.h"
#include "platform/window/messageBox.h"

namespace {

const char* const usage =
    "Usage: trellik [--game-dir DIR] [--start [--autoplay | --replay ID] [--rate R] | --calibrate]\n"
    "       trellik --help | --version\n"
    "  (no option)     open the launcher: settings, keys, language, then \"Touch!\" starts the game\n"
    "  --start         start the game straight away with the stored launcher settings\n"
    "                  (the first-run settings when none are stored)\n"
    "  --autoplay      with --start: the game presses every marker at its perfect time, to watch\n"
    "                  a chart played perfectly\n"
    "  --replay ID     with --start: play kept play ID again (see trellik-tool records), its\n"
    "                  presses at their kept times; refused when its chart file has changed\n"
    "  --rate R        with --start: play the music at R times its speed, its pitch kept, for this\n"
    "                  run (0.5 to 2 in steps of 0.05)\n"
    "  --calibrate     as --start, but the game opens its calibration of the audio and visual\n"
    "                  offsets instead of the title\n"
    "  --game-dir DIR  play in DIR (also TRELLIK_GAME_DIR); made with the demo songs when missing\n"
    "  --help          show this text\n"
    "  --version       show the version; its last part is the build number\n"
    "\n"
    "Without --game-dir the game plays in the current folder when it holds songs (sng/ or MKR/)\n"
    "and font.fnt; an installed game otherwise plays in $XDG_DATA_HOME/Trellik\n"
    "(~/.local/share/Trellik), made on the first start with the stock files and demo songs.\n";

// Where this program's transfers write in the game folder: the console font, the message of the
// day, the update check and the new program at its top, the stock images and sounds in gfx/ and snd/.
const TdownloadTargets gameFolderDownloads{{"font.fnt", motdFileName, updateInfoFile, downloadedProgramFile},
                                           {"gfx", "snd"}};

}  // namespace

int main(int argc, char** argv) {
    TcommandLine line;
    const bool understood = readCommandLine(argc, argv, line);
    if (!understood || line.help) {
        const bool help = understood && line.help;
        if (!line.refusal.empty()) std::fprintf(stderr, "%s\n", line.refusal.c_str());
        std::fputs(usage, help ? stdout : stderr);
        return help ? 0 : 2;
    }
    // Answered before anything else is touched: the self-update asks a new program this to see
    // that it runs, from the player's game folder.
    if (line.version) {
        const int32_t build = getBuildNumber(runningExecutable());
        std::fputs(versionAnswer(TRELLIK_VERSION_MAJOR, TRELLIK_VERSION_MINOR, TRELLIK_VERSION_RELEASE, build).c_str(),
                   stdout);
        return 0;
    }
    try {
        const std::string warning = enterGameFolder(line.gameFolder, runningExecutable());
        if (!warning.empty()) messageBox(warning, applicationTitle, TmessageKind::warning);
        // The working directory is the game folder; what an interrupted run left half-fetched
        // there would otherwise never be cleared.
        removeLeftoverDownloads(".", gameFolderDownloads);
        if (line.start || line.calibrate) return startGameDirectly(line);
        return runLauncher(argc, argv);
    } catch (const std::exception& error) {
        messageBox(error.what(), applicationTitle, TmessageKind::error);
    } catch (...) {
        messageBox("An unknown error ended the program.", applicationTitle, TmessageKind::error);
    }
    return 1;
}
