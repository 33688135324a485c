// The program's entry: the launcher, or with --start a game run straight away.
#include <cstdio>
#include <cstring>
#include <exception>

#include "launcher/launcherApplication.h"
#include "launcher/launcherWindows.h"
#include "platform/downloadFileCode.h"
#include "platform/messageBox.h"

namespace {

const char* const usage =
    "Usage: TrellikGL38 [--start [--autoplay] | --help]\n"
    "  (no option)  open the launcher: settings, keys, language, then \"Touch!\" starts the game\n"
    "  --start      start the game straight away with the stored launcher settings\n"
    "               (the first-run settings when none are stored)\n"
    "  --autoplay   with --start: the game presses every marker at its perfect time, to watch\n"
    "               a chart played perfectly\n"
    "  --help       show this text\n";

bool isOption(const char* argument, const char* option) {
    return std::strcmp(argument, option) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool start = argc > 1 && isOption(argv[1], "--start");
    const bool autoplay = start && argc > 2 && isOption(argv[2], "--autoplay");
    const int expected = 1 + (start ? 1 : 0) + (autoplay ? 1 : 0);
    if (argc > 1 && argc != expected) {
        const bool help = argc == 2 && (isOption(argv[1], "--help") || isOption(argv[1], "-h"));
        std::fputs(usage, help ? stdout : stderr);
        return help ? 0 : 2;
    }
    try {
        // The working directory is the game folder; what an interrupted run left half-fetched
        // there would otherwise never be cleared.
        removeLeftoverDownloads(".");
        return start ? startGameDirectly(autoplay) : runLauncher(argc, argv);
    } catch (const std::exception& error) {
        messageBox(error.what(), applicationTitle, TmessageKind::error);
    } catch (...) {
        messageBox("An unknown error ended the program.", applicationTitle, TmessageKind::error);
    }
    return 1;
}
