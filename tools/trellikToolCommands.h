// The subcommands of trellik-tool and the little they share; each takes the arguments after its name.
#pragma once

#include <string>
#include <vector>

using TtoolArguments = std::vector<std::string>;

// Exit statuses of every subcommand.
constexpr int exitSuccess = 0;
constexpr int exitRefused = 1;
constexpr int exitUsage = 2;

// One entry of the dispatch table in trellikTool.cpp; a new subcommand adds a line there.
struct TtoolCommand {
    const char* name;
    const char* summary;
    int (*run)(const TtoolArguments& arguments);
};

int runChartCommand(const TtoolArguments& arguments);
int runKeynameCommand(const TtoolArguments& arguments);
int runSearchCommand(const TtoolArguments& arguments);
int runImageCommand(const TtoolArguments& arguments);
int runSkinsCommand(const TtoolArguments& arguments);
int runSongsCommand(const TtoolArguments& arguments);
int runSyncCommand(const TtoolArguments& arguments);
int runAutochartCommand(const TtoolArguments& arguments);
int runRecordsCommand(const TtoolArguments& arguments);

// True when "--help" or "-h" is among the arguments.
bool asksForHelp(const TtoolArguments& arguments);
// Prints the usage on standard output and returns exitSuccess.
int printHelp(const char* usage);
// Prints the complaint and the usage on standard error and returns exitUsage.
int usageError(const std::string& complaint, const char* usage);
