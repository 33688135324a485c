// File output of the pack, with folders made as needed and every file noted in the manifest.
#include "tools/stockpack/packWriter.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "tools/mp3Writer.h"
#include "tools/stockpack/imageFiles.h"

namespace stockpack {

TpackWriter::TpackWriter(std::string rootFolder) : root(std::move(rootFolder)) {
    record["images"] = nlohmann::json::array();
    record["sounds"] = nlohmann::json::array();
    record["songs"] = nlohmann::json::array();
}

void TpackWriter::writeBytes(const std::string& relativePath, const std::vector<uint8_t>& bytes) {
    const std::filesystem::path path = std::filesystem::path(root) / relativePath;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error(std::string("cannot write ").append(path.string()));
}

void TpackWriter::writeText(const std::string& relativePath, const std::string& text) {
    writeBytes(relativePath, std::vector<uint8_t>(text.begin(), text.end()));
}

void TpackWriter::writeTga(const std::string& relativePath, const Tcanvas& canvas) {
    writeBytes(relativePath, encodeTga(canvas));
    record["images"].push_back({{"path", relativePath}, {"width", canvas.width}, {"height", canvas.height}});
}

void TpackWriter::writeJpeg(const std::string& relativePath, const Tcanvas& canvas) {
    writeBytes(relativePath, encodeJpeg(canvas, 92));
    record["images"].push_back({{"path", relativePath}, {"width", canvas.width}, {"height", canvas.height}});
}

void TpackWriter::writeMp3(const std::string& relativePath, const std::vector<int16_t>& stereoSamples) {
    writeBytes(relativePath, encodeMp3(stereoSamples, audioRate, 2, mp3KilobitsPerSecond));
    const size_t frames = stereoSamples.size() / 2;
    record["sounds"].push_back({{"path", relativePath},
                                {"frames", frames},
                                {"audioRate", audioRate},
                                {"milliseconds", static_cast<double>(frames) * 1000.0 / audioRate}});
}

void TpackWriter::saveManifest() { writeText("manifest.json", record.dump(1) + "\n"); }

}  // namespace stockpack
