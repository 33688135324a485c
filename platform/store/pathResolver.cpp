// Case-insensitive path resolution and folder listing over POSIX directories.
#include "platform/store/pathResolver.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>

namespace {

std::vector<std::string> splitComponents(const std::string& path) {
    std::vector<std::string> components;
    std::string current;
    for (const char c : path) {
        if (c == '/' || c == '\\') {
            if (!current.empty()) components.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) components.push_back(current);
    return components;
}

bool entryExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// The entry of folder whose name equals name without regard to case; an exact match wins.
std::string findEntry(const std::string& folder, const std::string& name) {
    const std::string exact = joinPath(folder, name);
    if (name == "." || name == ".." || entryExists(exact)) return name;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return {};
    std::string found;
    while (const dirent* entry = ::readdir(dir)) {
        if (::strcasecmp(entry->d_name, name.c_str()) == 0) {
            if (found.empty() || std::string(entry->d_name) < found) found = entry->d_name;
        }
    }
    ::closedir(dir);
    return found;
}

}  // namespace

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string resolvePath(const std::string& path) {
    const bool absolute = !path.empty() && (path[0] == '/' || path[0] == '\\');
    std::string resolved = absolute ? "/" : "";
    bool stillExists = true;
    for (const std::string& component : splitComponents(path)) {
        std::string name = component;
        if (stillExists) {
            const std::string match = findEntry(resolved, component);
            if (match.empty()) stillExists = false;
            else name = match;
        }
        resolved = joinPath(resolved, name);
    }
    if (resolved.empty() && !path.empty()) return absolute ? "/" : ".";
    return resolved;
}

bool pathExists(const std::string& path) {
    return entryExists(resolvePath(path));
}

bool isFolder(const std::string& path) {
    struct stat info {};
    return ::stat(resolvePath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool createFolders(const std::string& path) {
    const bool absolute = !path.empty() && (path[0] == '/' || path[0] == '\\');
    std::string built = absolute ? "/" : "";
    for (const std::string& component : splitComponents(path)) {
        const std::string match = findEntry(built, component);
        built = joinPath(built, match.empty() ? component : match);
        if (match.empty() && ::mkdir(built.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return isFolder(built);
}

bool createParentFolders(const std::string& filePath) {
    std::vector<std::string> components = splitComponents(filePath);
    if (components.size() <= 1) return true;
    components.pop_back();
    std::string folder = (!filePath.empty() && (filePath[0] == '/' || filePath[0] == '\\')) ? "/" : "";
    for (const std::string& component : components) folder = joinPath(folder, component);
    return createFolders(folder);
}

bool lessCaseInsensitive(const std::string& left, const std::string& right) {
    const int order = ::strcasecmp(left.c_str(), right.c_str());
    if (order != 0) return order < 0;
    return left < right;
}

std::vector<std::string> listFolder(const std::string& folder, const std::string& mask) {
    std::vector<std::string> names;
    const std::string resolved = resolvePath(folder.empty() ? "." : folder);
    DIR* dir = ::opendir(resolved.c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (::fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD) == 0) names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), lessCaseInsensitive);
    return names;
}
