// The program's options.
#include "launcher/commandLine.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/store/practiceSettings.h"

namespace {

bool isOption(const char* argument, const char* option) {
    return std::strcmp(argument, option) == 0;
}

// A play id: digits only, above 0, within int64.
bool readPlayId(const char* text, int64_t& id) {
    if (*text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || value <= 0 || !std::isdigit(static_cast<unsigned char>(*text))) return false;
    id = value;
    return true;
}

}  // namespace

bool readCommandLine(int argc, const char* const* argv, TcommandLine& line) {
    if (argc == 2 && isOption(argv[1], "--version")) {
        line.version = true;
        return true;
    }
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
    if (line.start && !line.autoplay && next < argc && isOption(argv[next], "--replay")) {
        if (next + 1 >= argc || !readPlayId(argv[next + 1], line.replayId)) return false;
        next += 2;
    }
    if (line.start && next < argc && isOption(argv[next], "--rate")) {
        const std::optional<int32_t> rate = next + 1 < argc ? rateFromText(argv[next + 1]) : std::nullopt;
        if (!rate) {
            line.refusal = next + 1 < argc ? rateRefusal(argv[next + 1]) : "--rate needs a rate, such as 0.75 or 1.5.";
            return false;
        }
        line.rateHundredths = *rate;
        next += 2;
    }
    return next == argc;
}
