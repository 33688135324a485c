// Case-insensitive paths: "\" and "/" both separate, and names match whatever case exists on disk.
#pragma once

#include <string>
#include <vector>

// The on-disk spelling of a path. Components that exist are matched without regard to case;
// the rest are kept as given, so the result is also where a new file or folder should go.
std::string resolvePath(const std::string& path);

// True when the path names an existing file or folder (in any letter case).
bool pathExists(const std::string& path);
bool isFolder(const std::string& path);

// Creates the folder and any missing parents inside existing folders of whatever case.
// Returns false when a component could not be created.
bool createFolders(const std::string& path);

// Creates the folder that will hold the file at path.
bool createParentFolders(const std::string& filePath);

// Names (not paths) of the entries in folder whose names match the wildcard mask without
// regard to case, sorted case-insensitively. "." and ".." are never listed.
std::vector<std::string> listFolder(const std::string& folder, const std::string& mask);

// Compares two names the way the listing sorts them.
bool lessCaseInsensitive(const std::string& left, const std::string& right);

// Joins a folder and a name with "/", leaving an empty folder out.
std::string joinPath(const std::string& folder, const std::string& name);
