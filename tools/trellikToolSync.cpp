// trellik-tool sync and autochart: the beat grid of an MP3, and a playable song made from one.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "content/trellikSongDataLoader.h"
#include "platform/sound/audioDecoder.h"
#include "tools/autochart.h"
#include "tools/beatSync.h"
#include "tools/mp3Writer.h"
#include "tools/trellikToolCommands.h"

namespace fs = std::filesystem;

namespace {

const char* const syncUsage =
    "usage: trellik-tool sync [--json] FILE.mp3\n"
    "Finds the tempo and the first beat of a song from its audio.\n"
    "  bpm                  beats per minute, to 0.01\n"
    "  offset_ms            time of the first beat, ms from the start of the audio\n"
    "  chart_offset_ms      the offset group a chart needs for it (play leads a row's time by 50 ms)\n"
    "  confidence           0..1, how much of the music's onset strength sits on the grid\n"
    "  tempo_stable         false when the tempo drifts or changes where the music has a beat\n"
    "  largest_deviation_ms how far the music with a beat strays from one steady grid\n"
    "  tempo_drifts         true when the tempo wanders gradually (a live band)\n"
    "  tempo_mapped         true when the tempo changes and the segments below follow it\n"
    "  segments             the tempo map: where each tempo starts and its first beat\n"
    "                       ({start_ms, bpm, first_beat_ms} in --json); one while the tempo holds\n"
    "  without_beat         stretches without a beat (intros, breaks, fades); they do not count\n"
    "                       against the tempo ({start_ms, end_ms} in --json)\n"
    "  alternatives         (--json) every tempo the beat could be counted at, with how likely a\n"
    "                       person taps it: [{bpm, score}], the chosen one first\n"
    "Exit status: 0 on success, 1 when the file is not a usable song, 2 on a usage error.\n";

const char* const autochartUsage =
    "usage: trellik-tool autochart FILE.mp3 --out SONGFOLDER [--name NAME] [--force]\n"
    "Writes a song the game plays at once: NAME.mp3 (a copy), NAME_prev.mp3 (a 15-second excerpt)\n"
    "and the charts NAME0.txt, NAME1.txt, NAME2.txt with the tempo and first beat found in the audio.\n"
    "NAME is the file's name without .mp3 unless given.\n"
    "  --force  replace existing files, and chart a song without a steady beat (a drifting tempo)\n"
    "A song whose tempo changes gets the changes in its charts (tempo groups), beat for beat.\n"
    "Exit status: 0 on success, 1 when nothing was written, 2 on a usage error.\n";

constexpr int previewKilobitsPerSecond = 192;
// Below this the onsets hardly follow a grid: the song has no beat to chart.
constexpr double leastConfidence = 0.3;

int refuse(const char* command, const std::string& reason) {
    std::cerr << "trellik-tool " << command << ": " << reason << "\n";
    return exitRefused;
}

double rounded(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

long chartOffsetMs(const TbeatGrid& grid) { return std::lround((grid.firstBeat + chartLeadSeconds) * 1000); }

std::string segmentsText(const TbeatGrid& grid) {
    std::string text;
    for (const TtempoSegment& segment : grid.segments) {
        char piece[64];
        std::snprintf(piece, sizeof piece, "%s%.2f from %.1f s", text.empty() ? "" : ", ", segment.bpm, segment.start);
        text += piece;
    }
    return text;
}

std::string beatlessText(const TbeatGrid& grid) {
    std::string text;
    for (const TbeatlessStretch& stretch : grid.beatless) {
        char piece[64];
        std::snprintf(piece, sizeof piece, "%s%.1f-%.1f s", text.empty() ? "" : ", ", stretch.start, stretch.end);
        text += piece;
    }
    return text.empty() ? "none" : text;
}

void printSyncText(const TbeatGrid& grid) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "bpm: %.2f\noffset_ms: %.1f\nchart_offset_ms: %ld\nconfidence: %.2f\ntempo_stable: %s\n"
                  "largest_deviation_ms: %.1f\n",
                  grid.bpm, grid.firstBeat * 1000, chartOffsetMs(grid), grid.confidence,
                  grid.tempoStable ? "true" : "false", grid.largestDeviationMs);
    std::cout << text << "tempo_drifts: " << (grid.drifting ? "true" : "false")
              << "\ntempo_mapped: " << (grid.mapped ? "true" : "false") << "\nsegments: " << segmentsText(grid)
              << "\nwithout_beat: " << beatlessText(grid) << "\n";
}

void printSyncJson(const TbeatGrid& grid) {
    nlohmann::ordered_json object;
    object["bpm"] = rounded(grid.bpm, 2);
    object["offset_ms"] = rounded(grid.firstBeat * 1000, 1);
    object["chart_offset_ms"] = chartOffsetMs(grid);
    object["confidence"] = rounded(grid.confidence, 2);
    object["tempo_stable"] = grid.tempoStable;
    object["largest_deviation_ms"] = rounded(grid.largestDeviationMs, 1);
    object["tempo_drifts"] = grid.drifting;
    object["tempo_mapped"] = grid.mapped;
    object["segments"] = nlohmann::json::array();
    for (const TtempoSegment& segment : grid.segments) {
        object["segments"].push_back({{"start_ms", rounded(segment.start * 1000, 1)}, {"bpm", rounded(segment.bpm, 2)},
                                      {"first_beat_ms", rounded(segment.firstBeat * 1000, 1)}});
    }
    object["without_beat"] = nlohmann::json::array();
    for (const TbeatlessStretch& stretch : grid.beatless)
        object["without_beat"].push_back(
            {{"start_ms", std::lround(stretch.start * 1000)}, {"end_ms", std::lround(stretch.end * 1000)}});
    object["alternatives"] = nlohmann::json::array();
    for (const TtempoAlternative& alternative : grid.alternatives)
        object["alternatives"].push_back({{"bpm", rounded(alternative.bpm, 2)}, {"score", rounded(alternative.score, 2)}});
    std::cout << object.dump() << "\n";
}

// A steady tempo, or changes the tempo map follows; a drifting tempo is charted only with --force.
bool hasSteadyBeat(const TbeatGrid& grid) {
    return (grid.tempoStable || grid.mapped) && grid.confidence >= leastConfidence;
}

std::string beatComplaint(const TbeatGrid& grid) {
    char text[200];
    std::snprintf(text, sizeof text, "no steady beat (tempo %.2f, confidence %.2f, deviation up to %.1f ms)", grid.bpm,
                  grid.confidence, grid.largestDeviationMs);
    return text;
}

struct TautochartOptions {
    std::string input;
    std::string folder;
    std::string name;
    bool force = false;
};

std::string readAutochartOptions(const TtoolArguments& arguments, TautochartOptions& options) {
    int files = 0;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--force") options.force = true;
        else if (argument == "--out" || argument == "--name") {
            if (i + 1 >= arguments.size()) return argument + " needs a value";
            (argument == "--out" ? options.folder : options.name) = arguments[++i];
        } else if (argument.starts_with("--")) return "unknown option " + argument;
        else {
            options.input = argument;
            ++files;
        }
    }
    if (files != 1) return "exactly one MP3 file is needed";
    if (options.folder.empty()) return "--out SONGFOLDER is needed";
    if (options.name.empty()) options.name = fs::path(options.input).stem().string();
    return {};
}

// Song names become file names the game builds by appending; they cannot hold folder separators.
std::string nameComplaint(const std::string& name) {
    if (name.empty()) return "the song name is empty";
    for (const char c : name) {
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 32) return "the song name \"" + name + "\" cannot be a file name";
    }
    return {};
}

std::vector<std::string> songFileNames(const std::string& name) {
    return {name + ".mp3", name + "_prev.mp3", name + "0.txt", name + "1.txt", name + "2.txt"};
}

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The game finds files without regard to letter case, so "Song0.TXT" is the chart "song0.txt".
std::string existingFile(const std::string& folder, const std::vector<std::string>& names) {
    std::error_code error;
    if (!fs::is_directory(folder, error)) return {};
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string present = entry.path().filename().string();
        for (const std::string& name : names) {
            if (lowered(present) == lowered(name)) return present;
        }
    }
    return {};
}

struct TsongFiles {
    std::vector<uint8_t> music;
    std::vector<uint8_t> preview;
    std::string charts[difficultyCount];
};

// Writes every file into a fresh folder beside the targets, then moves them into place, so a
// failure leaves nothing half written.
std::string writeSongFiles(const TautochartOptions& options, const TsongFiles& files) {
    std::error_code error;
    fs::create_directories(options.folder, error);
    if (error) return "cannot create " + options.folder + ": " + error.message();
    const fs::path staging = fs::path(options.folder) / ("." + options.name + ".autochart");
    fs::remove_all(staging, error);
    fs::create_directory(staging, error);
    if (error) return "cannot write into " + options.folder + ": " + error.message();
    const std::vector<std::string> names = songFileNames(options.name);
    auto write = [&](const std::string& name, const char* bytes, size_t size) {
        std::ofstream file(staging / name, std::ios::binary | std::ios::trunc);
        file.write(bytes, static_cast<std::streamsize>(size));
        return static_cast<bool>(file);
    };
    bool written = write(names[0], reinterpret_cast<const char*>(files.music.data()), files.music.size()) &&
                   write(names[1], reinterpret_cast<const char*>(files.preview.data()), files.preview.size());
    for (int d = 0; d < difficultyCount && written; ++d)
        written = write(names[static_cast<size_t>(2 + d)], files.charts[d].data(), files.charts[d].size());
    if (!written) {
        fs::remove_all(staging, error);
        return "cannot write the song files into " + options.folder;
    }
    for (const std::string& name : names) {
        const std::string clash = existingFile(options.folder, {name});
        if (!clash.empty()) fs::remove(fs::path(options.folder) / clash, error);
        fs::rename(staging / name, fs::path(options.folder) / name, error);
        if (error) return "cannot move " + name + " into " + options.folder + ": " + error.message();
    }
    fs::remove_all(staging, error);
    return {};
}

// The game's own parser must take each chart without a finding; anything else is a fault here.
bool chartReadsCleanly(const std::string& text) {
    const auto parser = std::make_unique<TsongParser>();
    TchartFindings findings;
    const TchartOutcome outcome = loadChartFromBytes(*parser, text, &findings);
    return outcome.accepted && findings.empty();
}

void printChartSummary(const std::string& name, const TsongAnalysis& analysis, const std::vector<TautoRow>& rows,
                       int difficulty) {
    static const char* const labels[] = {"BSC", "ADV", "EXT"};
    const double seconds = std::max(1.0, analysis.seconds - analysis.grid.firstBeat);
    char text[400];
    std::snprintf(text, sizeof text, "%s%d.txt (%s): %zu rows, %d markers, %.2f markers per second\n", name.c_str(), difficulty,
                  labels[difficulty], rows.size(), markerCount(rows), markerCount(rows) / seconds);
    std::cout << text;
}

}  // namespace

int runSyncCommand(const TtoolArguments& arguments) {
    if (asksForHelp(arguments)) return printHelp(syncUsage);
    bool json = false;
    std::string input;
    int files = 0;
    for (const std::string& argument : arguments) {
        if (argument == "--json") json = true;
        else if (argument.starts_with("--")) return usageError("unknown option " + argument, syncUsage);
        else input = argument, ++files;
    }
    if (files != 1) return usageError("exactly one MP3 file is needed", syncUsage);
    TsongAudio audio;
    const std::string complaint = readSongAudio(input, audio);
    if (!complaint.empty()) return refuse("sync", input + ": " + complaint);
    const TsongAnalysis analysis = analyseSong(audio.mono);
    if (analysis.grid.bpm <= 0) return refuse("sync", input + ": no beat found");
    if (json) printSyncJson(analysis.grid);
    else printSyncText(analysis.grid);
    return exitSuccess;
}

int runAutochartCommand(const TtoolArguments& arguments) {
    if (asksForHelp(arguments)) return printHelp(autochartUsage);
    TautochartOptions options;
    std::string complaint = readAutochartOptions(arguments, options);
    if (!complaint.empty()) return usageError(complaint, autochartUsage);
    complaint = nameComplaint(options.name);
    if (!complaint.empty()) return refuse("autochart", complaint);
    const std::string clash = existingFile(options.folder, songFileNames(options.name));
    if (!clash.empty() && !options.force)
        return refuse("autochart", (fs::path(options.folder) / clash).string() + " exists; --force replaces it");

    TsongFiles files;
    if (!readWholeFile(options.input, files.music)) return refuse("autochart", "cannot read " + options.input);
    TsongAudio audio;
    complaint = decodeSongAudio(files.music, audio);
    if (!complaint.empty()) return refuse("autochart", options.input + ": " + complaint);
    const TsongAnalysis analysis = analyseSong(audio.mono);
    if (analysis.grid.bpm <= 0) return refuse("autochart", options.input + ": no beat found");
    if (!hasSteadyBeat(analysis.grid)) {
        if (!options.force) return refuse("autochart", options.input + ": " + beatComplaint(analysis.grid) + "; --force charts it anyway");
        std::cerr << "trellik-tool autochart: warning: " << beatComplaint(analysis.grid) << "; the charts may drift\n";
    }

    std::vector<TautoRow> rows[difficultyCount];
    for (int d = 0; d < difficultyCount; ++d) {
        rows[d] = planAutoChart(analysis, d);
        files.charts[d] = autoChartText(analysis.grid, rows[d]);
        if (rows[d].empty() || !chartReadsCleanly(files.charts[d]))
            return refuse("autochart", "could not make a playable chart for difficulty " + std::to_string(d));
    }
    files.preview = encodeMp3(previewExcerpt(audio, analysis.grid), audioRate, audioChannels, previewKilobitsPerSecond);
    complaint = writeSongFiles(options, files);
    if (!complaint.empty()) return refuse("autochart", complaint);

    printSyncText(analysis.grid);
    for (int d = 0; d < difficultyCount; ++d) printChartSummary(options.name, analysis, rows[d], d);
    return exitSuccess;
}
