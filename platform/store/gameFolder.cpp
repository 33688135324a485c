// Chooses, fills and enters the folder the game plays in.
#include "platform/store/gameFolder.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "platform/store/pathResolver.h"
#include "platform/store/settingsStore.h"

namespace fs = std::filesystem;

namespace {

// The parts of the installed stock pack a new game folder receives, by their place in it.
// The server folder's version file, message of the day and program stay with the server.
const char* const seededParts[] = {"server/gfx", "server/snd", "server/font.fnt", "demo/sng", "demo/MKR"};

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

void copyInstalledParts(const fs::path& installedData, const fs::path& target) {
    for (const char* part : seededParts) {
        const fs::path source = installedData / part;
        fs::copy(source, target / source.filename(), fs::copy_options::recursive);
    }
}

void fillNewFolder(const fs::path& folder, const std::string& installedData) {
    const fs::path partial = folder.string() + ".partial";
    fs::remove_all(partial);
    if (folder.has_parent_path()) fs::create_directories(folder.parent_path());
    fs::create_directory(partial);
    if (!installedData.empty()) copyInstalledParts(installedData, partial);
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

void prepareGameFolder(const std::string& folder, const std::string& installedData) {
    try {
        if (fs::is_directory(folder)) return;
        fillNewFolder(folder, installedData);
    } catch (const fs::filesystem_error& error) {
        throw std::runtime_error("The game folder " + folder + " cannot be made: " + error.code().message() + ".");
    }
}

void enterGameFolder(const std::string& requested, const std::string& program) {
    TgameFolderInputs inputs;
    inputs.requested = requested.empty() ? environmentValue("TRELLIK_GAME_DIR") : requested;
    inputs.current = fs::current_path().string();
    inputs.installedData = installedDataFolder(program);
    inputs.playerData = playerDataFolder();
    const std::string folder = chooseGameFolder(inputs);
    if (folder == inputs.current) return;
    prepareGameFolder(folder, inputs.installedData);
    std::error_code error;
    fs::current_path(folder, error);
    if (error) throw std::runtime_error("The game folder " + folder + " cannot be entered: " + error.message() + ".");
}
