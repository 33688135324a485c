// Loader steps for the song and skin tests: texture names 1, 2, 3 ... handed out in order of
// loading, and the console table kept as text.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "content/textureControlCode.h"

struct TrecordingSteps {
    std::vector<std::string> loadedPaths;
    std::vector<std::string> fetchedPaths;
    std::string transcript;
    int refreshes = 0;

    TloaderSteps steps() {
        TloaderSteps result;
        result.loadImage = [this](const std::string& path, uint32_t& texture) {
            loadedPaths.push_back(path);
            texture = static_cast<uint32_t>(loadedPaths.size() + fetchedPaths.size());
            return true;
        };
        result.loadImageOrDownload = [this](const std::string& path, uint32_t& texture, bool announce) {
            fetchedPaths.push_back(path + (announce ? " announced" : ""));
            texture = static_cast<uint32_t>(loadedPaths.size() + fetchedPaths.size());
        };
        result.write = [this](const std::string& text) { transcript += text; };
        result.writeLine = [this](const std::string& text) { transcript += text + "\n"; };
        result.refresh = [this] { ++refreshes; };
        return result;
    }

    std::vector<std::string> rows() const {
        std::vector<std::string> lines;
        std::istringstream stream(transcript);
        for (std::string line; std::getline(stream, line);) lines.push_back(line);
        return lines;
    }
};
