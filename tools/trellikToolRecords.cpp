// trellik-tool records: the plays the game kept, as a table, as JSON or exported to a CSV file, and
// the plays queued for the ranking server sent by hand.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string_view>
#include <unistd.h>

#include "engine/rankingSubmitter.h"
#include "platform/store/recordsDatabase.h"
#include "platform/store/rankingSettings.h"
#include "tools/trellikToolCommands.h"

namespace fs = std::filesystem;

namespace {

std::string recordsUsage() {
    return "usage: trellik-tool records [--json] [--song NAME] [--best] [--file PATH]\n"
           "       trellik-tool records --export FILE.csv [--song NAME] [--best] [--file PATH]\n"
           "       trellik-tool records --submit [--file PATH] [--settings PATH]\n"
           "Lists the plays the game kept, newest first.\n"
           "  --json           a JSON array of every field of each play\n"
           "  --song NAME      only the plays of that song\n"
           "  --best           the best of each chart and difficulty as song select shows it: its best-scoring\n"
           "                   player play, with the best clear of any of its player plays\n"
           "  --export FILE    write the plays to a CSV file instead (replaced only when complete)\n"
           "  --file PATH      read another records database than the player's (never written; only a\n"
           "                   damaged one is kept aside as PATH.bad-N)\n"
           "  --submit         send the plays queued for the ranking server now, whatever their wait,\n"
           "                   to the server and as the player the settings name, and say what came of them\n"
           "  --settings PATH  the settings file to read the server, name and token from (default\n"
           "                   $XDG_CONFIG_HOME/Trellik/settings.json); a first registration is kept in it\n"
           "The player's records are $XDG_DATA_HOME/Trellik/records.sqlite3, here\n  " +
           TrecordsDatabase::defaultPath() +
           "\n"
           "Exit status: 0 on success, 1 when the records cannot be read or exported or queued plays could\n"
           "not be sent, 2 on a usage error.\n";
}

struct TrecordsOptions {
    bool json = false;
    bool best = false;
    bool submit = false;
    std::string settings;
    std::string song;
    std::string file;
    std::string exportPath;
};

// Returns the complaint, empty when the arguments are sound.
std::string readRecordsOptions(const TtoolArguments& arguments, TrecordsOptions& options) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--json") options.json = true;
        else if (argument == "--best") options.best = true;
        else if (argument == "--submit") options.submit = true;
        else if (argument == "--song" || argument == "--file" || argument == "--export" || argument == "--settings") {
            if (i + 1 >= arguments.size()) return argument + " needs a value";
            std::string& value = argument == "--song"     ? options.song
                                 : argument == "--file"   ? options.file
                                 : argument == "--export" ? options.exportPath
                                                          : options.settings;
            value = arguments[++i];
        } else if (argument.starts_with("-")) return "unknown option " + argument;
        else return "unexpected argument \"" + argument + "\"";
    }
    if (options.json && !options.exportPath.empty()) return "--json and --export do not go together";
    if (options.submit && (options.json || options.best || !options.exportPath.empty() || !options.song.empty()))
        return "--submit goes only with --file and --settings";
    if (!options.submit && !options.settings.empty()) return "--settings goes only with --submit";
    if (options.file.empty()) options.file = TrecordsDatabase::defaultPath();
    if (options.settings.empty()) options.settings = TsettingsStore::defaultFilePath();
    return {};
}

std::string difficultyName(int32_t difficulty) {
    switch (difficulty) {
    case 0: return "BASIC";
    case 1: return "ADVANCED";
    case 2: return "EXTREME";
    default: return std::to_string(difficulty);
    }
}

std::string sourceName(TplaySource source) {
    switch (source) {
    case TplaySource::player: return "player";
    case TplaySource::autoplay: return "autoplay";
    case TplaySource::replay: return "replay";
    }
    return std::to_string(static_cast<int32_t>(source));
}

std::string timeText(int64_t seconds, bool local, const char* format) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (!(local ? ::localtime_r(&time, &parts) : ::gmtime_r(&time, &parts))) return std::to_string(seconds);
    char text[64];
    return std::strftime(text, sizeof text, format, &parts) ? text : std::to_string(seconds);
}

std::string localTime(int64_t seconds) { return timeText(seconds, true, "%Y-%m-%d %H:%M:%S"); }
std::string isoUtcTime(int64_t seconds) { return timeText(seconds, false, "%Y-%m-%dT%H:%M:%SZ"); }

// Every field of a play but its presses, in a fixed order: the JSON object and the CSV row.
nlohmann::ordered_json playFields(const TkeptPlay& play) {
    nlohmann::ordered_json fields;
    fields["id"] = play.id;
    fields["when"] = isoUtcTime(play.playedAt);
    fields["playedAt"] = play.playedAt;
    fields["chartSha256"] = play.chartSha256;
    fields["song"] = play.song;
    fields["difficulty"] = play.difficulty;
    fields["difficultyName"] = difficultyName(play.difficulty);
    fields["build"] = play.build;
    fields["markerCount"] = play.markerCount;
    fields["score"] = play.score;
    fields["maxCombo"] = play.maxCombo;
    fields["perfect"] = play.perfect;
    fields["great"] = play.great;
    fields["good"] = play.good;
    fields["bad"] = play.bad;
    fields["miss"] = play.miss;
    fields["early"] = play.early;
    fields["late"] = play.late;
    fields["meanMs"] = play.meanMs;
    fields["medianMs"] = play.medianMs;
    fields["audioOffset"] = play.audioOffset;
    fields["visualOffset"] = play.visualOffset;
    fields["perfectWindow"] = play.perfectWindow;
    fields["greatWindow"] = play.greatWindow;
    fields["goodWindow"] = play.goodWindow;
    fields["badWindow"] = play.badWindow;
    fields["source"] = sourceName(play.source);
    fields["clear"] = clearMarkName(clearMarkOf(play));
    return fields;
}

// Columns are measured in characters, not bytes, so song names in UTF-8 stay aligned.
size_t displayWidth(const std::string& text) {
    size_t width = 0;
    for (const char c : text) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return width;
}

using TtableRow = std::vector<std::string>;

TtableRow tableRow(const TkeptPlay& play, TclearMark clear) {
    return {std::to_string(play.id),     localTime(play.playedAt),   play.song,
            difficultyName(play.difficulty), std::to_string(play.score), std::to_string(play.perfect),
            std::to_string(play.great),  std::to_string(play.good),  std::to_string(play.bad),
            std::to_string(play.miss),   sourceName(play.source),    clearMarkName(clear)};
}

void printTable(const std::vector<TtableRow>& rows) {
    std::vector<size_t> widths(rows.front().size(), 0);
    for (const TtableRow& row : rows) {
        for (size_t column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], displayWidth(row[column]));
    }
    for (const TtableRow& row : rows) {
        std::string line;
        for (size_t column = 0; column < row.size(); ++column) {
            if (column > 0) line += "  ";
            line += row[column];
            if (column + 1 < row.size()) line.append(widths[column] - displayWidth(row[column]), ' ');
        }
        std::cout << line << "\n";
    }
}

// One object (or CSV row) a play; a chart's best also carries the best clear of its plays.
using TfieldList = std::vector<nlohmann::ordered_json>;

TfieldList fieldsOf(const std::vector<TkeptPlay>& plays) {
    TfieldList list;
    for (const TkeptPlay& play : plays) list.push_back(playFields(play));
    return list;
}

nlohmann::ordered_json bestFields(const TchartBest& best) {
    nlohmann::ordered_json fields = playFields(best.play);
    fields["bestClear"] = clearMarkName(best.clear);
    return fields;
}

TfieldList fieldsOf(const std::vector<TchartBest>& bests) {
    TfieldList list;
    for (const TchartBest& best : bests) list.push_back(bestFields(best));
    return list;
}

std::vector<TtableRow> tableOf(const std::vector<TkeptPlay>& plays) {
    std::vector<TtableRow> rows = {
        {"id", "when", "song", "difficulty", "score", "perfect", "great", "good", "bad", "miss", "by", "clear"}};
    for (const TkeptPlay& play : plays) rows.push_back(tableRow(play, clearMarkOf(play)));
    return rows;
}

std::vector<TtableRow> tableOf(const std::vector<TchartBest>& bests) {
    std::vector<TtableRow> rows = {
        {"id", "when", "song", "difficulty", "score", "perfect", "great", "good", "bad", "miss", "by", "best clear"}};
    for (const TchartBest& best : bests) rows.push_back(tableRow(best.play, best.clear));
    return rows;
}

// Names are bytes from a file anyone can edit: ones that are not UTF-8 get replacement characters.
void printJson(const TfieldList& list) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const nlohmann::ordered_json& fields : list) array.push_back(fields);
    std::cout << array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
}

// A spreadsheet takes a cell beginning with one of these for a formula; a leading ' makes it text.
std::string spreadsheetText(const std::string& text) {
    if (text.empty() || std::string_view("=+-@\t\r").find(text.front()) == std::string_view::npos) return text;
    return "'" + text;
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string csvLine(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) line += (i > 0 ? "," : "") + csvField(fields[i]);
    return line + "\r\n";
}

// Numbers are written as numbers (a negative offset stays -3.5): only text can carry a formula.
std::string csvText(const TfieldList& list, const nlohmann::ordered_json& blank) {
    std::vector<std::string> names;
    for (const auto& field : blank.items()) names.push_back(field.key());
    std::string text = csvLine(names);
    for (const nlohmann::ordered_json& fields : list) {
        std::vector<std::string> values;
        for (const auto& field : fields.items())
            values.push_back(field.value().is_string() ? spreadsheetText(field.value().get<std::string>())
                                                       : field.value().dump());
        text += csvLine(values);
    }
    return text;
}

bool writeAll(int descriptor, const std::string& text) {
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(descriptor, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        written += static_cast<size_t>(count);
    }
    return ::fsync(descriptor) == 0;
}

// Writes beside the target and renames over it, so a failed export never leaves half a file.
std::string writeWholeFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".part-" + std::to_string(::getpid());
    const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0) return "cannot write beside " + path + ": " + std::strerror(errno);
    const bool written = writeAll(descriptor, text);
    const int writeError = errno;
    ::close(descriptor);
    if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return {};
    const std::string reason = std::strerror(written ? errno : writeError);
    ::unlink(temporary.c_str());
    return "cannot write " + path + ": " + reason;
}

// Only a SQLite file is opened: the database keeps aside a file SQLite finds damaged, and a
// wrong --file (a CSV, say) must not cost the user theirs.
bool looksLikeDatabase(const std::string& path) {
    static const char magic[] = "SQLite format 3";
    std::ifstream in(path, std::ios::binary);
    char header[sizeof magic] = {};
    in.read(header, sizeof header);
    return in.gcount() == sizeof header && std::equal(header, header + sizeof header, magic);
}

int refuse(const std::string& reason) {
    std::cerr << "trellik-tool records: " << reason << "\n";
    return exitRefused;
}

// What was read, as the chosen output: a table, JSON or a CSV file.
struct TrecordsListing {
    TfieldList fields;
    nlohmann::ordered_json blankFields;
    std::vector<TtableRow> table;
};

TrecordsListing listingOf(TrecordsDatabase& database, const TrecordsOptions& options) {
    if (options.best) {
        const std::vector<TchartBest> bests = database.bests(options.song);
        return {fieldsOf(bests), bestFields(TchartBest{}), tableOf(bests)};
    }
    const std::vector<TkeptPlay> plays = database.plays(options.song);
    return {fieldsOf(plays), playFields(TkeptPlay{}), tableOf(plays)};
}

int printListing(const TrecordsListing& listing, const TrecordsOptions& options) {
    if (!options.exportPath.empty()) {
        const std::string failure = writeWholeFile(options.exportPath, csvText(listing.fields, listing.blankFields));
        if (!failure.empty()) return refuse(failure);
        std::cout << "Exported " << listing.fields.size() << " plays to " << options.exportPath << "\n";
    } else if (options.json) printJson(listing.fields);
    else if (listing.fields.empty()) std::cout << "No plays kept yet.\n";
    else printTable(listing.table);
    return exitSuccess;
}

// Why the file is not opened at all, or "" to open it. Nothing but a regular file is even read: a
// FIFO would hang the read, a device is no one's records.
std::string refusal(const std::string& file, std::filesystem::file_status status) {
    if (status.type() != fs::file_type::regular) return file + " is not a regular file; it is left as it is";
    if (!looksLikeDatabase(file)) return file + " is not a records database";
    return "";
}

// Sends every queued play at once and says what came of them; 1 when some could not be sent.
int submitQueued(const TrecordsOptions& options) {
    TsettingsStore store(options.settings);
    store.open();
    if (!store.setAsideReason().empty()) std::cerr << store.setAsideReason() << "\n";
    const TrankingSettings settings = readRankingSettings(store);
    if (settings.serverUrl.empty()) return refuse("no ranking server is set in " + options.settings);
    TrecordsDatabase database(options.file);
    if (!database.notice().empty()) std::cerr << database.notice() << "\n";
    if (!database.isOpen()) return refuse("cannot open " + options.file);
    const TrankingClient client(settings.serverUrl);
    TrankingSender sender(database, client, settings, options.settings);
    const TsendSummary summary = sender.sendQueued(static_cast<int64_t>(std::time(nullptr)), -1);
    for (const auto& [playId, line] : sender.lines()) std::cout << "play " << playId << ": " << line << "\n";
    std::cout << "Sent to " << settings.serverUrl << ": " << summary.verified << " ranked, " << summary.rejected
              << " rejected, " << summary.refused << " refused; " << summary.waiting << " still queued.\n";
    if (summary.waiting == 0) return exitSuccess;
    return refuse("queued plays could not be sent: " + (summary.problem.empty() ? "not tried" : summary.problem));
}

}  // namespace

int runRecordsCommand(const TtoolArguments& arguments) {
    const std::string usage = recordsUsage();
    if (asksForHelp(arguments)) return printHelp(usage.c_str());
    TrecordsOptions options;
    const std::string complaint = readRecordsOptions(arguments, options);
    if (!complaint.empty()) return usageError(complaint, usage.c_str());
    if (options.submit) return submitQueued(options);

    // The game makes the file at its first play; until then there is nothing to read.
    std::error_code error;
    const fs::file_status status = fs::status(options.file, error);
    const bool regular = status.type() == fs::file_type::regular;
    if (status.type() == fs::file_type::not_found || (regular && fs::file_size(options.file, error) == 0)) {
        if (!options.exportPath.empty()) return refuse("no records at " + options.file + " yet");
        std::cout << "No records at " << options.file << " yet.\n";
        return exitSuccess;
    }
    const std::string refused = refusal(options.file, status);
    if (!refused.empty()) return refuse(refused);
    TrecordsDatabase database(options.file, TrecordsAccess::read);
    if (!database.notice().empty()) std::cerr << database.notice() << "\n";
    if (!database.isOpen()) return database.notice().empty() ? refuse("cannot open " + options.file) : exitRefused;
    const TrecordsListing listing = listingOf(database, options);
    if (!database.lastError().empty()) return refuse(database.lastError());
    return printListing(listing, options);
}
