// trellik-tool chart: parses a chart with the game's own parser and prints rows and findings.
#include <algorithm>
#include <charconv>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "content/trellikSongDataLoader.h"
#include "tools/trellikToolCommands.h"

namespace {

const char* const chartUsage =
    "usage: trellik-tool chart [--lint] [--json] [--song-debug] FILE\n"
    "Parses FILE as a fresh game run does and prints the result, the counts and one line per row\n"
    "(index, time in seconds, tempo, the sixteen panels as four grid rows; x is a marker).\n"
    "Exit status: 0 when the game would play the chart, 1 when not, 2 on a usage error.\n"
    "  --lint        add findings with line numbers (faults and oddities)\n"
    "  --json        print one JSON object instead of text\n"
    "  --song-debug  also write songDebug.txt in the working directory, as the game does\n";

struct TchartOptions {
    bool lint = false;
    bool json = false;
    bool songDebug = false;
    std::string file;
};

// Everything printed about one parse.
struct TchartReport {
    const TsongParser& parser;
    TchartOutcome outcome;
    TchartFindings findings;
};

// The empty string when the options are sound, else the complaint.
std::string readOptions(const TtoolArguments& arguments, TchartOptions& options) {
    bool optionsEnded = false;
    int files = 0;
    for (const std::string& argument : arguments) {
        if (!optionsEnded && argument == "--") optionsEnded = true;
        else if (!optionsEnded && argument == "--lint") options.lint = true;
        else if (!optionsEnded && argument == "--json") options.json = true;
        else if (!optionsEnded && argument == "--song-debug") options.songDebug = true;
        else if (!optionsEnded && argument.starts_with("--")) return "unknown option " + argument;
        else {
            options.file = argument;
            ++files;
        }
    }
    if (files != 1) return "exactly one chart file is needed";
    return {};
}

int32_t reportedRowCount(const TchartReport& report) {
    return std::max(report.parser.entryCount, report.outcome.groups);
}

bool rowHasTime(const TchartReport& report, int32_t row) {
    return row < report.parser.entryCount;
}

std::string shortestNumber(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string panelGrid(const ChartEntry& entry) {
    std::string grid;
    for (int k = 0; k < 16; ++k) {
        if (k > 0 && k % 4 == 0) grid += ' ';
        grid += entry.panels[k] ? 'x' : '-';
    }
    return grid;
}

std::string findingLine(const std::string& file, const TchartFinding& finding) {
    const std::string where = finding.line > 0 ? file + ":" + std::to_string(finding.line) : file;
    return where + ": " + (finding.rejects ? "error: " : "note: ") + finding.text;
}

void printText(const TchartReport& report, const TchartOptions& options) {
    const TsongParser& parser = report.parser;
    std::cout << "result: " << (report.outcome.fileRead && report.outcome.accepted ? "true" : "false") << "\n"
              << "entryCount: " << parser.entryCount << "\n"
              << "markerCount: " << parser.markerCount << "\n"
              << "groups: " << report.outcome.groups << "\n";
    for (int32_t row = 0; row < reportedRowCount(report); ++row) {
        const ChartEntry& entry = parser.entries[row];
        const bool timed = rowHasTime(report, row);
        std::cout << "row " << row << "  time " << formatFixed(entry.time, 3, false) << "  bpm "
                  << (timed ? shortestNumber(entry.bpm) : "-") << "  panels " << panelGrid(entry) << "\n";
    }
    if (options.lint) {
        for (const TchartFinding& finding : report.findings) std::cout << findingLine(options.file, finding) << "\n";
    }
}

std::string panelFlags(const ChartEntry& entry) {
    std::string flags;
    for (const uint8_t flag : entry.panels) flags += flag ? '1' : '0';
    return flags;
}

void printJson(const TchartReport& report, const TchartOptions& options) {
    const TsongParser& parser = report.parser;
    nlohmann::ordered_json object;
    object["result"] = report.outcome.fileRead && report.outcome.accepted;
    object["entryCount"] = parser.entryCount;
    object["markerCount"] = parser.markerCount;
    object["groups"] = report.outcome.groups;
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (int32_t row = 0; row < reportedRowCount(report); ++row) {
        const ChartEntry& entry = parser.entries[row];
        nlohmann::ordered_json item;
        item["time"] = entry.time;
        item["bpm"] = rowHasTime(report, row) ? nlohmann::ordered_json(entry.bpm) : nlohmann::ordered_json();
        item["panels"] = panelFlags(entry);
        rows.push_back(item);
    }
    object["rows"] = rows;
    if (options.lint) {
        nlohmann::ordered_json findings = nlohmann::ordered_json::array();
        for (const TchartFinding& finding : report.findings)
            findings.push_back({{"line", finding.line}, {"error", finding.rejects}, {"text", finding.text}});
        object["findings"] = findings;
    }
    std::cout << object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
}

// Without --lint the reasons for a refusal still go to standard error, so a failing check names its line.
void printRefusalReasons(const TchartReport& report, const TchartOptions& options) {
    for (const TchartFinding& finding : report.findings) {
        if (finding.rejects) std::cerr << findingLine(options.file, finding) << "\n";
    }
}

}  // namespace

int runChartCommand(const TtoolArguments& arguments) {
    if (asksForHelp(arguments)) return printHelp(chartUsage);
    TchartOptions options;
    const std::string complaint = readOptions(arguments, options);
    if (!complaint.empty()) return usageError(complaint, chartUsage);

    const auto parser = std::make_unique<TsongParser>();
    TchartReport report{*parser, {}, {}};
    report.outcome = loadChartFile(*parser, options.file, options.songDebug, &report.findings);
    if (options.json) printJson(report, options);
    else printText(report, options);
    if (!options.lint) printRefusalReasons(report, options);
    return report.outcome.fileRead && report.outcome.accepted ? exitSuccess : exitRefused;
}
