// Chooses, fills and enters the folder the game plays in.
#include "platform/store/gameFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <stdexcept>
#include <system_error>

#include "platform/store/pathResolver.h"
#include "platform/store/settingsStore.h"

namespace fs = std::filesystem;

namespace {

// The parts of the installed stock pack a game folder receives, by their place in it. Stock parts
// are the game's and follow the install; demo songs and skins become the player's and are only
// ever added where missing. The server folder's version file, message of the day and program stay
// with the server.
const char* const stockParts[] = {"server/gfx", "server/snd", "server/font.fnt"};
const char* const demoParts[] = {"demo/sng", "demo/MKR"};

// The install's stock version, and in a game folder the one it was last filled from.
constexpr const char* installedVersionName = "stock-version";
constexpr const char* folderVersionName = ".stock-version";

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string firstLineOf(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// Copies beside the target first and renames, so a start cut short never leaves half a file
// that would count as present from then on.
void putFileInPlace(const fs::path& source, const std::string& target, bool replace) {
    const fs::path place = resolvePath(target);
    std::error_code missing;
    if (!replace && fs::exists(fs::symlink_status(place, missing))) return;
    fs::create_directories(place.parent_path());
    const fs::path copying = place.string() + ".copying";
    fs::copy_file(source, copying, fs::copy_options::overwrite_existing);
    fs::rename(copying, place);
}

void putPartInPlace(const fs::path& source, const std::string& target, bool replace) {
    if (fs::is_regular_file(source)) {
        putFileInPlace(source, target, replace);
        return;
    }
    if (!fs::is_directory(source)) return;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(source))
        if (entry.is_regular_file())
            putFileInPlace(entry.path(), joinPath(target, fs::relative(entry.path(), source).string()), replace);
}

void putPartsInPlace(std::span<const char* const> parts, const fs::path& installedData, const std::string& folder,
                     bool replace) {
    for (const char* part : parts) {
        const fs::path source = installedData / part;
        putPartInPlace(source, joinPath(folder, source.filename().string()), replace);
    }
}

void noteStockVersion(const std::string& folder, const std::string& version) {
    const fs::path noted = fs::path(folder) / folderVersionName;
    const fs::path writing = noted.string() + ".copying";
    {
        std::ofstream out(writing, std::ios::trunc);
        out << version << '\n';
        if (!out.flush()) throw fs::filesystem_error("cannot write", writing, std::make_error_code(std::errc::io_error));
    }
    fs::rename(writing, noted);
}

// A folder already filled from this stock version only gets back the stock files it lost; any
// other gets the install's stock files in place of its own and the demo files it lacks. An
// install that names no version is never taken to have other stock files.
void fillFromInstall(const std::string& folder, const fs::path& installedData, bool isNew) {
    const std::string installedVersion = firstLineOf(installedData / installedVersionName);
    const bool upToDate = !isNew && (installedVersion.empty() ||
                                     firstLineOf(fs::path(folder) / folderVersionName) == installedVersion);
    putPartsInPlace(stockParts, installedData, folder, !upToDate);
    if (upToDate) return;
    putPartsInPlace(demoParts, installedData, folder, false);
    if (!installedVersion.empty()) noteStockVersion(folder, installedVersion);
}

void fillNewFolder(const fs::path& folder, const std::string& installedData) {
    const fs::path partial = folder.string() + ".partial";
    fs::remove_all(partial);
    if (folder.has_parent_path()) fs::create_directories(folder.parent_path());
    fs::create_directory(partial);
    if (!installedData.empty()) fillFromInstall(partial.string(), installedData, true);
    std::error_code renamed;
    fs::rename(partial, folder, renamed);
    if (!renamed) return;
    // Another start that got there first made the folder; its copy is as good as this one.
    if (!fs::is_directory(folder)) throw fs::filesystem_error("cannot rename", partial, folder, renamed);
    fs::remove_all(partial);
}

}  // namespace

bool looksLikeGameFolder(const std::string& folder) {
    const bool hasContent = isFolder(joinPath(folder, "sng")) || isFolder(joinPath(folder, "MKR"));
    return hasContent && pathExists(joinPath(folder, "font.fnt"));
}

std::string installedDataFolder(const std::string& program) {
    const fs::path data = fs::path(program).parent_path().parent_path() / "share" / "trellik";
    std::error_code error;
    const bool complete = fs::is_directory(data / "server", error) && fs::is_directory(data / "demo", error);
    return complete ? data.string() : "";
}

std::string playerDataFolder() {
    const std::string dataHome = environmentValue("XDG_DATA_HOME");
    const std::string base = !dataHome.empty() && dataHome[0] == '/' ? dataHome : homeFolder() + "/.local/share";
    return base + "/Trellik";
}

std::string chooseGameFolder(const TgameFolderInputs& inputs) {
    if (!inputs.requested.empty()) return inputs.requested;
    if (looksLikeGameFolder(inputs.current)) return inputs.current;
    if (!inputs.installedData.empty() && !inputs.playerData.empty()) return inputs.playerData;
    return inputs.current;
}

std::string prepareGameFolder(const std::string& folder, const std::string& installedData) {
    if (!fs::is_directory(folder)) {
        try {
            fillNewFolder(folder, installedData);
        } catch (const fs::filesystem_error& error) {
            throw std::runtime_error("The game folder " + folder + " cannot be made: " + error.code().message() + ".");
        }
        return "";
    }
    if (installedData.empty()) return "";
    try {
        fillFromInstall(folder, installedData, false);
    } catch (const fs::filesystem_error& error) {
        return "The game folder " + folder + " did not get all the stock files of " + installedData + " (" +
               error.path1().string() + ": " + error.code().message() + "); the game goes on with what it has.";
    }
    return "";
}

std::string enterGameFolder(const std::string& requested, const std::string& program) {
    TgameFolderInputs inputs;
    inputs.requested = requested.empty() ? environmentValue("TRELLIK_GAME_DIR") : requested;
    inputs.current = fs::current_path().string();
    inputs.installedData = installedDataFolder(program);
    inputs.playerData = playerDataFolder();
    const std::string folder = chooseGameFolder(inputs);
    // A game folder started from plays as it is, unless it is the player's own, which follows the install.
    if (folder == inputs.current && folder != inputs.playerData) return "";
    const std::string warning = prepareGameFolder(folder, inputs.installedData);
    std::error_code error;
    fs::current_path(folder, error);
    if (error) throw std::runtime_error("The game folder " + folder + " cannot be entered: " + error.message() + ".");
    return warning;
}
