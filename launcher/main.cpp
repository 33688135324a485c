// The program's entry: the launcher, or with --start a game run straight away.
#include <cstdio>
#include <cstring>
#include <exception>

#include "launcher/launcherApplication.h"
#include "launcher/launcherWindows.h"
#include "platform/messageBox.h"

namespace {

const char* const usage =
    "Usage: TrellikGL38 [--start | --help]\n"
    "  (no option)  open the launcher: settings, keys, language, then \"Touch!\" starts the game\n"
    "  --start      start the game straight away with the stored launcher settings\n"
    "               (the first-run settings when none are stored)\n"
    "  --help       show this text\n";

}  // namespace

int main(int argc, char** argv) {
    const bool start = argc > 1 && std::strcmp(argv[1], "--start") == 0;
    if (argc > 1 && !start) {
        const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
        std::fputs(usage, help ? stdout : stderr);
        return help ? 0 : 2;
    }
    try {
        return start ? startGameDirectly() : runLauncher(argc, argv);
    } catch (const std::exception& error) {
        messageBox(error.what(), applicationTitle, TmessageKind::error);
    } catch (...) {
        messageBox("An unknown error ended the program.", applicationTitle, TmessageKind::error);
    }
    return 1;
}
