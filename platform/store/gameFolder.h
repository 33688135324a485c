// Where the game plays: the choice of the game folder at start and the filling of a new one.
#pragma once

#include <string>

// What start-up knows when it chooses the game folder.
struct TgameFolderInputs {
    std::string requested;      // --game-dir or TRELLIK_GAME_DIR; empty when neither is given
    std::string current;        // the working directory
    std::string installedData;  // share/trellik beside an installed program; empty otherwise
    std::string playerData;     // the player's own game folder under the XDG data folder
};

// True when folder holds sng/ or MKR/ and font.fnt (in any letter case).
bool looksLikeGameFolder(const std::string& folder);

// bin/../share/trellik beside program when it holds the stock pack (the program is installed),
// else "".
std::string installedDataFolder(const std::string& program);

// $XDG_DATA_HOME/Trellik, or ~/.local/share/Trellik when that is unset or not an absolute path.
std::string playerDataFolder();

// The folder asked for; else the current one when it is a game folder already; else the
// player's own folder for an installed program; else the current folder.
std::string chooseGameFolder(const TgameFolderInputs& inputs);

// Makes a missing game folder: filled with the stock files and the demo songs and skins of
// installedData (left empty when that is ""). It is copied into "<folder>.partial" and renamed,
// so it is never seen half made; what a killed start left there is thrown away and copied again.
// An existing folder gets from installedData every stock file it lacks, never losing the player's
// files; when the install's stock version ("stock-version") differs from the one the folder noted
// (".stock-version"), its stock files are replaced, the demo files it lacks are added and the new
// version is noted. Throws std::runtime_error naming the folder when a new one cannot be made;
// what an existing one could not be given is returned as a warning ("" when all went well).
std::string prepareGameFolder(const std::string& folder, const std::string& installedData);

// Chooses the game folder for the program at path program, prepares it and makes it the
// working directory. requested is the --game-dir value ("" when not given), which wins over
// TRELLIK_GAME_DIR. Throws std::runtime_error naming the folder when it cannot be used; returns
// prepareGameFolder's warning.
std::string enterGameFolder(const std::string& requested, const std::string& program);
