// The output folder of the pack and the manifest that says what each file was meant to be.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/stockpack/canvas.h"
#include "tools/stockpack/synth.h"

namespace stockpack {

// Writes files below one root folder and records them in the manifest ("manifest.json" in the
// root), which tests read to compare what the game's readers make of the files.
class TpackWriter {
public:
    explicit TpackWriter(std::string rootFolder);

    void writeBytes(const std::string& relativePath, const std::vector<uint8_t>& bytes);
    void writeText(const std::string& relativePath, const std::string& text);
    void writeTga(const std::string& relativePath, const Tcanvas& canvas);
    void writeJpeg(const std::string& relativePath, const Tcanvas& canvas);
    // Encodes interleaved stereo 44.1 kHz samples at 192 kbit/s and records the intended length.
    void writeMp3(const std::string& relativePath, const std::vector<int16_t>& stereoSamples);

    nlohmann::json& manifest() { return record; }
    void saveManifest();

private:
    std::string root;
    nlohmann::json record;
};

constexpr int mp3KilobitsPerSecond = 192;

}  // namespace stockpack
