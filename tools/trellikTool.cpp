// trellik-tool: checks content the way the game reads it; one subcommand per job.
#include <exception>
#include <iomanip>
#include <iostream>

#include "tools/trellikToolCommands.h"

namespace {

const TtoolCommand toolCommands[] = {
    {"chart", "parse a chart file exactly as the game does and print its rows", runChartCommand},
    {"keyname", "print the key assignment caption of virtual-key codes", runKeynameCommand},
    {"search", "list the files of a folder that match a mask, as the game's search does", runSearchCommand},
    {"image", "decode an image file exactly as the game does; print its size or the game's message", runImageCommand},
    {"skins", "print the table the game prints while it loads the marker skins of a folder", runSkinsCommand},
    {"songs", "print the table the game prints while it builds the song catalogue from a folder", runSongsCommand},
    {"sync", "find the tempo and first beat of a song from its MP3", runSyncCommand},
    {"autochart", "make a song with three charts from an MP3, ready to play", runAutochartCommand},
    {"records", "list the plays the game kept, or export them to a CSV file", runRecordsCommand},
};

void printCommandList(std::ostream& out) {
    out << "usage: trellik-tool COMMAND [ARGUMENTS...]\n"
           "       trellik-tool COMMAND --help\n\ncommands:\n";
    for (const TtoolCommand& command : toolCommands)
        out << "  " << std::left << std::setw(10) << command.name << command.summary << "\n";
}

const TtoolCommand* findCommand(const std::string& name) {
    for (const TtoolCommand& command : toolCommands) {
        if (name == command.name) return &command;
    }
    return nullptr;
}

}  // namespace

bool asksForHelp(const TtoolArguments& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") return true;
    }
    return false;
}

int printHelp(const char* usage) {
    std::cout << usage;
    return exitSuccess;
}

int usageError(const std::string& complaint, const char* usage) {
    std::cerr << "trellik-tool: " << complaint << "\n" << usage;
    return exitUsage;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "trellik-tool: no command given\n";
        printCommandList(std::cerr);
        return exitUsage;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printCommandList(std::cout);
        return exitSuccess;
    }
    const TtoolCommand* command = findCommand(name);
    if (!command) {
        std::cerr << "trellik-tool: unknown command \"" << name << "\"\n";
        printCommandList(std::cerr);
        return exitUsage;
    }
    try {
        return command->run(TtoolArguments(argv + 2, argv + argc));
    } catch (const std::exception& error) {
        std::cerr << "trellik-tool " << name << ": " << error.what() << "\n";
        return exitRefused;
    }
}
