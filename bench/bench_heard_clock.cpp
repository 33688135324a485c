// The music clock against what the sound server really plays: a click track played through the
// sound engine on the server output while the server's monitor is recorded; the clicks found in
// the recording give the heard music time, and the clock read meanwhile is compared with it.
// The heard time runs straight from click to click; where the output stalled between two clicks
// the music's place is not known, and reads there are left out.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/playFigures.h"
#include "bench/support/soundCapture.h"
#include "platform/sound/audioDecoder.h"
#include "platform/sound/audioEngine.h"
#include "platform/clockSeam.h"
#include "platform/sound/soundEngine.h"
#include "tools/mp3Writer.h"

namespace {

constexpr double trackSeconds = 25.0;
constexpr double firstClickSeconds = 0.5;
constexpr double clickGapSeconds = 0.25;
constexpr double quietestClick = 8000.0;
// Far enough apart that the encoder's changes to a peak never make two alike.
constexpr int clickStep = 1100;
// Clicks in a row peak differently (4 s of them), longer than any stall of the output.
constexpr size_t distinctPeaks = 16;
constexpr int clickThreshold = 5000;
constexpr size_t quietFrames = audioRate / 10;
// Sounds still on their way to the monitor when the stream ends.
constexpr auto drainTime = std::chrono::milliseconds(500);

// Short, sharp, decaying clicks in silence, each louder than the one before in rounds, so every
// click is known by its peak.
std::vector<int16_t> clickTrack() {
    const size_t frames = static_cast<size_t>(trackSeconds * audioRate);
    std::vector<int16_t> samples(frames * audioChannels, 0);
    for (size_t click = 0; firstClickSeconds + click * clickGapSeconds < trackSeconds - 0.5; ++click) {
        const size_t first = static_cast<size_t>((firstClickSeconds + click * clickGapSeconds) * audioRate);
        const double peak = quietestClick + clickStep * static_cast<double>(click % distinctPeaks);
        for (size_t i = 0; i < 400; ++i) {
            const double value = peak * std::exp(-static_cast<double>(i) / 60.0) *
                                 std::cos(2.0 * M_PI * 1500.0 * static_cast<double>(i) / audioRate);
            samples[(first + i) * 2] = samples[(first + i) * 2 + 1] = static_cast<int16_t>(value);
        }
    }
    return samples;
}

// True when no two clicks of a round peak alike.
bool peaksDiffer(const TclickOnsets& clicks) {
    std::vector<int> peaks;
    for (const size_t onset : clicks.onsets) peaks.push_back(clickPeak(clicks.samples, onset));
    for (size_t i = 0; i < peaks.size(); ++i)
        for (size_t j = i + 1; j < peaks.size() && j < i + distinctPeaks; ++j)
            if (std::abs(peaks[i] - peaks[j]) < clickStep / 4) return false;
    return true;
}

// The two clocks read at one moment (monotonic ms each).
struct TclockRead {
    double heardAtMs;
    int32_t heardMs;
    double handedOverAtMs;
    int32_t handedOverMs;
};

// Reads both clocks about every millisecond, with jitter, until the stream ends; the output's
// report is taken halfway, while it plays for sure.
std::vector<TclockRead> readClocksUntilEnd(const Tstream& music, ToutputReport& midway) {
    std::vector<TclockRead> reads;
    reads.reserve(100000);
    std::mt19937 random(17);
    std::uniform_int_distribution<int> pauseUs(700, 1300);
    const double halfwayMs = systemHighResolutionMs() + trackSeconds * 500.0;
    const double giveUpMs = systemHighResolutionMs() + (trackSeconds + 10.0) * 1000.0;
    bool reported = false;
    while (!music.isFinished() && systemHighResolutionMs() < giveUpMs) {
        const double before = systemHighResolutionMs();
        const int32_t heard = music.positionMS();
        const double between = systemHighResolutionMs();
        const int32_t handedOver = music.writePositionMS();
        const double after = systemHighResolutionMs();
        reads.push_back({(before + between) / 2.0, heard, (between + after) / 2.0, handedOver});
        if (!reported && after >= halfwayMs) {
            midway = programOutputReport();
            reported = true;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(random)));
    }
    return reads;
}

struct TclockErrors {
    std::vector<double> heard;
    std::vector<double> handedOver;
    std::vector<double> handedOverSigned;
    size_t aroundStalls = 0;
};

// Each read against what was heard, inside the span the clicks cover and away from stalls.
TclockErrors clockErrors(const std::vector<TclockRead>& reads, const TheardMusic& truth) {
    const double firstMs = truth.points().front().heardMs;
    const double lastMs = truth.points().back().heardMs;
    TclockErrors errors;
    for (const TclockRead& read : reads) {
        if (read.heardAtMs < firstMs || read.handedOverAtMs > lastMs) continue;
        if (!truth.steadyAt(read.heardAtMs) || !truth.steadyAt(read.handedOverAtMs)) {
            ++errors.aroundStalls;
            continue;
        }
        errors.heard.push_back(std::fabs(read.heardMs - truth.musicMsAt(read.heardAtMs)));
        const double lead = read.handedOverMs - truth.musicMsAt(read.handedOverAtMs);
        errors.handedOver.push_back(std::fabs(lead));
        errors.handedOverSigned.push_back(lead);
    }
    return errors;
}

// The track as the engine decodes it, left channel.
std::vector<int16_t> decodedTrack(const std::string& file) {
    std::vector<uint8_t> bytes;
    if (!readWholeFile(file, bytes)) return {};
    return leftChannel(decodeWholeMp3(std::move(bytes), size_t{600} * audioRate));
}

int fail(const std::string& why) {
    std::fprintf(stderr, "bench_heard_clock: %s\n", why.c_str());
    return 1;
}

}  // namespace

int main() {
    setenv("TRELLIK_AUDIO", "pulse", 1);
    const TscratchFolder folder;
    const std::string musicFile = folder.path + "/clicks.mp3";
    if (folder.path.empty() || !writeMp3File(musicFile, clickTrack(), audioRate, audioChannels, 192))
        return fail("cannot write the click track");
    const std::vector<int16_t> track = decodedTrack(musicFile);
    const TclickOnsets expected{track, findOnsets(track, clickThreshold, quietFrames)};
    if (expected.onsets.size() < 10 || !peaksDiffer(expected)) return fail("the click track's clicks cannot be told apart");

    std::string error;
    TsoundCapture capture;
    if (!capture.start(error)) return fail("cannot record the sound server: " + error);
    Tsounds sounds;
    Tstream music;
    if (!music.open(musicFile)) return fail("cannot open the click track");
    const ToutputReport before = programOutputReport();
    std::printf("%s\n", before.line.c_str());
    if (before.silent || before.estimated) return fail("the output is not the sound server's");
    music.play();
    ToutputReport midway = before;
    const std::vector<TclockRead> reads = readClocksUntilEnd(music, midway);
    const ToutputReport report = programOutputReport();
    std::this_thread::sleep_for(drainTime);
    capture.stop();

    const TfittedLine frameTimes = capture.frameTimes();
    const TclickOnsets found{capture.samples(), findOnsets(capture.samples(), clickThreshold, quietFrames)};
    const std::vector<TheardPoint> points = pairClicks(found, expected, frameTimes);
    std::printf("clicks: %zu expected, %zu found in %zu captured frames, %zu paired; %zu of %zu capture reads "
                "on the frame time line\n",
                expected.onsets.size(), found.onsets.size(), capture.samples().size(), points.size(), frameTimes.points,
                capture.reads().size());
    if (points.size() < expected.onsets.size() * 9 / 10) return fail("too few clicks found in the recording");

    const TheardMusic truth(points);
    std::printf("heard clicks: %zu over %.3f s; %zu clock reads\n", points.size(),
                (points.back().heardMs - points.front().heardMs) / 1000.0, reads.size());
    const TclockErrors errors = clockErrors(reads, truth);
    std::printf("the handed-over clock leads what is heard by %.3f ms (median); %zu reads compared, %zu left out "
                "between clicks around an output stall\n",
                percentile(errors.handedOverSigned, 0.5), errors.heard.size(), errors.aroundStalls);
    printFigure("heard_clock_error", errors.heard);
    printFigure("handed_over_clock_error", errors.handedOver);
    std::printf("figure output_latency value=%.3f unit=ms\n", midway.latencyMs);
    std::printf("figure output_underruns value=%lld unit=count\n", static_cast<long long>(report.underruns));
    return 0;
}
