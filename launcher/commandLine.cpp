// The program's options.
#include "launcher/commandLine.h"

#include <cstring>

namespace {

bool isOption(const char* argument, const char* option) {
    return std::strcmp(argument, option) == 0;
}

}  // namespace

bool readCommandLine(int argc, const char* const* argv, TcommandLine& line) {
    int next = 1;
    if (next + 1 < argc && isOption(argv[next], "--game-dir")) {
        line.gameFolder = argv[next + 1];
        if (line.gameFolder.empty()) return false;
        next += 2;
    }
    if (next < argc && (isOption(argv[next], "--help") || isOption(argv[next], "-h"))) {
        line.help = true;
        return next + 1 == argc;
    }
    if (next < argc && isOption(argv[next], "--calibrate")) {
        line.calibrate = true;
        return next + 1 == argc;
    }
    line.start = next < argc && isOption(argv[next], "--start");
    if (line.start) ++next;
    line.autoplay = line.start && next < argc && isOption(argv[next], "--autoplay");
    if (line.autoplay) ++next;
    return next == argc;
}
