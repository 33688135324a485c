// trellik-tool search: what the game's folder search finds for a folder and a mask.
#include <iostream>
#include <memory>

#include "content/fileSearchCode.h"
#include "tools/trellikToolCommands.h"

namespace {

const char* const searchUsage =
    "usage: trellik-tool search FOLDER MASK [--cut]\n"
    "Lists the names in FOLDER matching the wildcard MASK (any letter case), sorted, one per line.\n"
    "  --cut  remove the last five characters of each name and list each song name once\n";

}  // namespace

int runSearchCommand(const TtoolArguments& arguments) {
    if (asksForHelp(arguments)) return printHelp(searchUsage);
    bool cut = false;
    std::vector<std::string> positional;
    for (const std::string& argument : arguments) {
        if (argument == "--cut") cut = true;
        else if (argument.starts_with("--")) return usageError("unknown option " + argument, searchUsage);
        else positional.push_back(argument);
    }
    if (positional.size() != 2) return usageError("a folder and a mask are needed", searchUsage);
    const auto results = std::make_unique<TsearchResults>();
    searchFiles(positional[0], positional[1], *results, cut);
    for (const std::string& name : results->names) {
        if (name.empty()) break;
        std::cout << name << "\n";
    }
    return exitSuccess;
}
