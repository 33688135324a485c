// Making and reading the rendered song corpus, with its truth corrected for the render's delay.
#include "tools/syncCorpus.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tools/beatSync.h"

namespace fs = std::filesystem;

namespace {

std::string fileText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Holds an exclusive lock on a file for as long as it lives.
class TfolderLock {
public:
    explicit TfolderLock(const fs::path& path) : descriptor(::open(path.c_str(), O_CREAT | O_RDWR, 0644)) {
        if (descriptor >= 0) ::flock(descriptor, LOCK_EX);
    }
    ~TfolderLock() {
        if (descriptor >= 0) ::close(descriptor);
    }
    TfolderLock(const TfolderLock&) = delete;
    TfolderLock& operator=(const TfolderLock&) = delete;

private:
    int descriptor;
};

// The script's own text kept beside the songs tells whether they are of this script.
std::string renderedCorpus(const std::string& set, const fs::path& folder) {
    const fs::path script = fs::path(TRELLIK_SOURCE_DIR) / "tools" / "makeSyncCorpus.py";
    const std::string recipe = fileText(script) + set;
    if (fs::exists(folder / "truth.json") && fileText(folder / "made-by.txt") == recipe) return {};
    const std::string command = "python3 '" + script.string() + "' --set " + set + " --out '" + folder.string() + "'";
    if (std::system(command.c_str()) != 0) return "could not render the corpus: " + command;
    std::ofstream(folder / "made-by.txt", std::ios::binary) << recipe;
    return {};
}

// The time of the first sample of the click above a tenth of full scale, less when it was written.
double renderDelay(const fs::path& click, double clickSeconds) {
    TsongAudio audio;
    if (!readSongAudio(click.string(), audio).empty()) return NAN;
    for (size_t i = 0; i < audio.mono.size(); ++i) {
        if (std::fabs(audio.mono[i]) > 0.1f) return static_cast<double>(i) / syncSampleRate - clickSeconds;
    }
    return NAN;
}

}  // namespace

double TcorpusSong::distanceToBeat(double seconds, bool halves) const {
    const TcorpusSegment* segment = &segments.front();
    for (const TcorpusSegment& later : segments) {
        if (seconds >= later.startSeconds - 60.0 / later.bpm / 2) segment = &later;
    }
    const double step = 60.0 / segment->bpm / (halves ? 2 : 1);
    const double beats = (seconds - segment->firstBeat) / step;
    return std::fabs(beats - std::round(beats)) * step;
}

TsyncCorpus loadSyncCorpus(const std::string& set, const std::string& folder) {
    TsyncCorpus corpus;
    std::error_code error;
    fs::create_directories(folder, error);
    const TfolderLock lock(fs::path(folder) / ".lock");
    corpus.complaint = renderedCorpus(set, folder);
    if (!corpus.complaint.empty()) return corpus;
    const nlohmann::json truth = nlohmann::json::parse(fileText(fs::path(folder) / "truth.json"), nullptr, false);
    if (truth.is_discarded()) return {{}, 0, "truth.json is no JSON"};
    corpus.renderDelaySeconds = renderDelay(fs::path(folder) / "click.mp3", truth.value("click_seconds", 0.0));
    if (std::isnan(corpus.renderDelaySeconds)) return {{}, 0, "no click found in click.mp3"};
    for (const nlohmann::json& entry : truth["songs"]) {
        TcorpusSong song{entry["name"], entry["style"], entry["kind"], (fs::path(folder) / entry["name"]).string() + ".mp3", {}};
        for (const nlohmann::json& segment : entry["segments"]) {
            song.segments.push_back({segment["start_s"].get<double>() + corpus.renderDelaySeconds, segment["bpm"].get<double>(),
                                     segment["first_beat_s"].get<double>() + corpus.renderDelaySeconds});
        }
        corpus.songs.push_back(song);
    }
    return corpus;
}
