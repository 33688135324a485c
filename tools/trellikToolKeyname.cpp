// trellik-tool keyname: the caption the launcher shows for each virtual-key code.
#include <charconv>
#include <iostream>

#include "content/keyNamesCode.h"
#include "tools/trellikToolCommands.h"

namespace {

const char* const keynameUsage =
    "usage: trellik-tool keyname CODE...\n"
    "Prints the caption of each virtual-key code (0 to 65535), one per line.\n";

bool readKeyCode(const std::string& text, uint16_t& code) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value > 0xFFFF) return false;
    code = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

int runKeynameCommand(const TtoolArguments& arguments) {
    if (asksForHelp(arguments)) return printHelp(keynameUsage);
    if (arguments.empty()) return usageError("no key code given", keynameUsage);
    std::vector<uint16_t> codes;
    for (const std::string& argument : arguments) {
        uint16_t code = 0;
        if (!readKeyCode(argument, code)) return usageError("\"" + argument + "\" is no key code", keynameUsage);
        codes.push_back(code);
    }
    for (const uint16_t code : codes) std::cout << keyLabel(code) << "\n";
    return exitSuccess;
}
