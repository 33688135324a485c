// trellik-tool sync and autochart: the beat grid of an MP3, and a playable song made from one.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "content/trellikSongDataLoader.h"
#include "platform/sound/audioDecoder.h"
#include "tools/autochart.h"
#include "tools/autochartBatch.h"
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
    "       trellik-tool autochart FOLDER --out SONGFOLDER [--jobs N] [--force]\n"
    "Writes a song the game plays at once: NAME.mp3 (a copy), NAME_prev.mp3 (a 15-second excerpt)\n"
    "and the charts NAME0.txt, NAME1.txt, NAME2.txt with the tempo and first beat found in the audio.\n"
    "NAME is the file's name without .mp3 unless given.\n"
    "  --force  replace existing files, and chart a song without a steady beat (a drifting tempo,\n"
    "           followed bar by bar)\n"
    "A song whose tempo changes gets the changes in its charts (tempo groups), beat for beat.\n"
    "A FOLDER has every MP3 under it charted, N at once (one per core unless given), each folder's\n"
    "songs as a group (a sub-folder of SONGFOLDER), named \"artist - title\" from their ID3 tags or\n"
    "else after their files. Songs charted before are skipped, so an interrupted run is taken up\n"
    "again by running it once more. Exit status for a FOLDER: 0 when no song failed (songs refused\n"
    "for want of a steady beat are listed), 1 when one did, 130 when interrupted.\n"
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
    std::string jobs;
};

std::string readAutochartOptions(const TtoolArguments& arguments, TautochartOptions& options) {
    int files = 0;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--force") options.force = true;
        else if (argument == "--out" || argument == "--name" || argument == "--jobs") {
            if (i + 1 >= arguments.size()) return argument + " needs a value";
            (argument == "--out" ? options.folder : argument == "--name" ? options.name : options.jobs) = arguments[++i];
        } else if (argument.starts_with("--")) return "unknown option " + argument;
        else {
            options.input = argument;
            ++files;
        }
    }
    if (files != 1) return "exactly one MP3 file is needed";
    if (options.folder.empty()) return "--out SONGFOLDER is needed";
    if (fs::is_directory(options.input)) {
        if (!options.name.empty()) return "--name names one song; a folder's songs are named after their tags";
        if (jobsFrom(options.jobs) == 0) return "--jobs takes a number from 1 to " + std::to_string(mostJobs);
    } else if (!options.jobs.empty()) return "--jobs is for charting a folder";
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

bool writeBytes(const fs::path& path, const char* bytes, size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes, static_cast<std::streamsize>(size));
    file.close();
    return static_cast<bool>(file);
}

bool writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    return writeBytes(path, reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

bool writeStagedFiles(const fs::path& staging, const std::vector<std::string>& names, const TsongFiles& files) {
    bool written = writeBytes(staging / names[0], files.music) && writeBytes(staging / names[1], files.preview);
    for (int d = 0; d < difficultyCount && written; ++d) {
        const std::string& chart = files.charts[d];
        written = writeBytes(staging / names[static_cast<size_t>(2 + d)], chart.data(), chart.size());
    }
    return written;
}

// Puts the staged files in the song folder as one step: the files they replace (in any letter
// case) go into the scratch folder first, and every move is undone when one fails, so the folder
// holds either the earlier song or the new one.
class TsongFileSwap {
public:
    TsongFileSwap(const fs::path& folder, const fs::path& staging) : folder(folder), staging(staging) {}

    std::string place(const std::vector<std::string>& names) {
        std::string complaint = moveAsideWhatIsReplaced(names);
        for (size_t i = 0; i < names.size() && complaint.empty(); ++i)
            complaint = move(staging / names[i], folder / names[i]);
        if (!complaint.empty() && !undo()) {
            undoFailed = true;
            complaint += "; the replaced files are kept in " + staging.string();
        }
        return complaint;
    }

    // The scratch folder then holds files of the earlier song and must be kept.
    bool keepsReplacedFiles() const { return undoFailed; }

private:
    std::string moveAsideWhatIsReplaced(const std::vector<std::string>& names) {
        const fs::path aside = staging / "replaced";
        std::error_code error;
        fs::create_directory(aside, error);
        if (error) return "cannot write into " + staging.string() + ": " + error.message();
        for (const std::string& name : names) {
            for (std::string clash = existingFile(folder.string(), {name}); !clash.empty();
                 clash = existingFile(folder.string(), {name})) {
                const fs::file_status status = fs::symlink_status(folder / clash, error);
                if (!fs::is_regular_file(status) && !fs::is_symlink(status))
                    return (folder / clash).string() + " is not a file; nothing was replaced";
                const std::string complaint = move(folder / clash, aside / clash);
                if (!complaint.empty()) return complaint;
            }
        }
        return {};
    }

    std::string move(const fs::path& from, const fs::path& to) {
        std::error_code error;
        fs::rename(from, to, error);
        if (error) return "cannot move " + from.string() + " to " + to.string() + ": " + error.message();
        moves.push_back({from, to});
        return {};
    }

    // Moves everything back, newest first; false when a move back failed.
    bool undo() {
        bool undone = true;
        for (auto done = moves.rbegin(); done != moves.rend(); ++done) {
            std::error_code error;
            fs::rename(done->second, done->first, error);
            undone = undone && !error;
        }
        moves.clear();
        return undone;
    }

    const fs::path folder;
    const fs::path staging;
    std::vector<std::pair<fs::path, fs::path>> moves;
    bool undoFailed = false;
};

// A scratch folder of its own beside the song files, so that what an interrupted run left is never
// taken for this run's files; empty when none can be made.
fs::path makeScratchFolder(const std::string& folder, const std::string& name) {
    std::string pattern = (fs::path(folder) / ("." + name + ".autochart-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) return {};
    return pattern;
}

// Writes every file into a scratch folder beside the targets and moves them into place only when
// all are written; a failure leaves the earlier song as it was and no scratch folder.
std::string writeSongFiles(const TautochartOptions& options, const TsongFiles& files) {
    std::error_code error;
    const bool folderIsNew = !fs::exists(options.folder, error);
    fs::create_directories(options.folder, error);
    if (error) return "cannot create " + options.folder + ": " + error.message();
    const fs::path staging = makeScratchFolder(options.folder, options.name);
    if (staging.empty()) return "cannot write into " + options.folder + ": " + std::strerror(errno);
    const std::vector<std::string> names = songFileNames(options.name);
    std::string complaint = "cannot write the song files into " + options.folder;
    bool keepScratch = false;
    if (writeStagedFiles(staging, names, files)) {
        TsongFileSwap swap(options.folder, staging);
        complaint = swap.place(names);
        keepScratch = swap.keepsReplacedFiles();
    }
    if (!keepScratch) fs::remove_all(staging, error);
    if (!complaint.empty() && folderIsNew) fs::remove(options.folder, error);
    return complaint;
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

// What charting one song made, for the report of the one-song command.
struct TchartedSong {
    TsongAnalysis analysis;
    std::vector<TautoRow> rows[difficultyCount];
    std::string warning;
};

TsongOutcome failedWith(const std::string& reason) { return {TsongResult::failed, reason}; }

// Charts the MP3 into the song folder: the command for one song, and each song of a folder.
TsongOutcome chartSong(const TautochartOptions& options, TchartedSong& made) {
    std::string complaint = nameComplaint(options.name);
    if (!complaint.empty()) return failedWith(complaint);
    const std::string clash = existingFile(options.folder, songFileNames(options.name));
    if (!clash.empty() && !options.force) return failedWith((fs::path(options.folder) / clash).string() + " exists; --force replaces it");

    TsongFiles files;
    complaint = readSongFile(options.input, files.music);
    if (!complaint.empty()) return failedWith(options.input + ": " + complaint);
    TsongAudio audio;
    complaint = decodeSongAudio(files.music, audio);
    if (!complaint.empty()) return failedWith(options.input + ": " + complaint);
    made.analysis = analyseSong(audio.mono);
    const TbeatGrid& grid = made.analysis.grid;
    if (grid.bpm <= 0) return {TsongResult::refused, options.input + ": no beat found"};
    if (!hasSteadyBeat(grid)) {
        if (!options.force) return {TsongResult::refused, options.input + ": " + beatComplaint(grid) + "; --force charts it anyway"};
        const bool drifts = !grid.tempoStable && !grid.mapped;
        made.warning = beatComplaint(grid) + (drifts ? "; the charts follow its beat bar by bar" : "; the charts may drift");
        if (drifts) made.analysis.grid = followDrift(made.analysis);
    }

    for (int d = 0; d < difficultyCount; ++d) {
        made.rows[d] = planAutoChart(made.analysis, d);
        files.charts[d] = autoChartText(grid, made.rows[d]);
        const std::string sparse = sparseChartComplaint(made.analysis, markerCount(made.rows[d]));
        if (!sparse.empty()) return {TsongResult::refused, options.input + ": difficulty " + std::to_string(d) + ": " + sparse};
        if (made.rows[d].empty() || !chartReadsCleanly(files.charts[d]))
            return failedWith("could not make a playable chart for difficulty " + std::to_string(d));
    }
    files.preview = encodeMp3(previewExcerpt(audio, grid), audioRate, audioChannels, previewKilobitsPerSecond);
    const TinterruptionsHeld whilePlacing;
    complaint = writeSongFiles(options, files);
    return complaint.empty() ? TsongOutcome{TsongResult::charted, {}} : failedWith(complaint);
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
    const std::string complaint = readAutochartOptions(arguments, options);
    if (!complaint.empty()) return usageError(complaint, autochartUsage);
    if (fs::is_directory(options.input)) {
        const auto chartOne = [&options](const TbatchSong& song, const std::string& groupFolder) {
            TchartedSong made;
            return chartSong({song.source, groupFolder, song.name, options.force, {}}, made);
        };
        return runAutochartBatch(options.input, options.folder, jobsFrom(options.jobs), chartOne);
    }
    TchartedSong made;
    const TsongOutcome outcome = chartSong(options, made);
    if (!made.warning.empty()) std::cerr << "trellik-tool autochart: warning: " << made.warning << "\n";
    if (outcome.result != TsongResult::charted) return refuse("autochart", outcome.reason);
    printSyncText(made.analysis.grid);
    for (int d = 0; d < difficultyCount; ++d) printChartSummary(options.name, made.analysis, made.rows[d], d);
    return exitSuccess;
}
