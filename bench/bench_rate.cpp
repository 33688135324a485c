// The music at other rates on the private sound server: markers against the beat heard from the
// server's monitor and presses through XTest at each marker's perfect time (at 0.75x and 1.5x),
// the stretcher's share of a core at 1.5x, and how soon a rate change is heard.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/playFigures.h"
#include "bench/support/playSession.h"
#include "bench/support/soundCapture.h"
#include "bench/support/xTestPresser.h"
#include "engine/trellikGL38Engine.h"
#include "platform/clockSeam.h"
#include "platform/sound/audioDecoder.h"
#include "platform/sound/audioEngine.h"
#include "platform/sound/audioMixer.h"
#include "platform/sound/soundEngine.h"
#include "platform/sound/timeStretcher.h"
#include "platform/store/practiceSettings.h"
#include "tools/mp3Writer.h"

namespace {

constexpr int clickThreshold = 5000;
constexpr int paceClickThreshold = 2500;
constexpr size_t quietFrames = audioRate / 50;
// A heard click belongs to the marker whose beat is nearest, within this (ms).
constexpr double pairingReachMs = 40.0;
// The generated song clicks at each row's chart time, which charts put this many ms of the song
// after the beat: at a rate the click is heard this much divided by the rate after the beat.
constexpr double chartLeadSongMs = 50.0;
constexpr auto drainTime = std::chrono::milliseconds(500);
// The generated song's clicks last 5 ms of the song: their energy centre lies half of it in.
constexpr double clickCentreSongMs = 2.5;
constexpr size_t centreReachFrames = audioRate / 50;
// Heard clicks whose gaps stay this close to the rate's (ms) ran without a stall between them;
// the stretcher itself moves an attack by up to a couple of ms.
constexpr double steadyGapMs = 2.0;
// From a row coming on to its perfect moment (real ms), as the game shows it.
constexpr double approachMs = 500.0;
// Blocks and frame map pieces logged for one play: a minute of output in pieces of 512 frames.
constexpr size_t loggedPieces = 60 * audioRate / 512 * 4;

double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Music to stretch: a chord with a click every half second, as busy as a song.
std::vector<int16_t> busyMusic(double seconds) {
    const auto frames = static_cast<size_t>(seconds * audioRate);
    std::vector<int16_t> samples(frames * audioChannels);
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / audioRate;
        double value = 3000.0 * (std::sin(2.0 * M_PI * 220.0 * t) + std::sin(2.0 * M_PI * 277.2 * t) +
                                 std::sin(2.0 * M_PI * 329.6 * t));
        if (i % (audioRate / 2) < 400) value += 8000.0 * std::exp(-static_cast<double>(i % (audioRate / 2)) / 60.0);
        samples[i * 2] = samples[i * 2 + 1] = static_cast<int16_t>(value);
    }
    return samples;
}

// Processor time the mixer takes for ten seconds of output at a rate, in ms (decoding apart).
double mixingCpuMs(const std::vector<uint8_t>& mp3, double rate) {
    TaudioMixer mixer(false);
    const auto stream = mixer.openStream(mp3);
    mixer.play(stream);
    mixer.setMusicRate(stream, rate);
    std::vector<int16_t> block(512 * audioChannels);
    double spent = 0.0;
    for (int32_t done = 0; done < 10 * audioRate; done += 512) {
        mixer.decodeAhead();
        const double before = threadCpuMs();
        mixer.render(block.data(), 512, 0.0);
        spent += threadCpuMs() - before;
    }
    return spent;
}

// The stretcher's share of one core at 1.5x: the mixer's time at 1.5x less its time at 1x.
double stretchCpuPercent() {
    const std::vector<uint8_t> mp3 = encodeMp3(busyMusic(20.0), audioRate, audioChannels, 192);
    mixingCpuMs(mp3, 1.5);  // the first start measures the stretcher's lag at the rate
    const double plain = mixingCpuMs(mp3, 1.0);
    const double stretched = mixingCpuMs(mp3, 1.5);
    return (stretched - plain) / 10000.0 * 100.0;
}

struct TheardClicks {
    std::vector<double> heardMs;
    // Each click's energy centre: the stretcher smears a click's attack, so its onset can move
    // while the sound's centre stays where the clock puts it.
    std::vector<double> centreMs;
};

// The energy centre (a fractional index) of the frames from onset for reach frames.
double energyCentreFrom(const std::vector<int16_t>& mono, size_t onset, size_t reach) {
    double weighted = 0.0;
    double energy = 0.0;
    for (size_t i = onset >= reach / 4 ? onset - reach / 4 : 0; i < std::min(mono.size(), onset + reach); ++i) {
        const double power = static_cast<double>(mono[i]) * mono[i];
        weighted += power * static_cast<double>(i);
        energy += power;
    }
    return energy > 0.0 ? weighted / energy : static_cast<double>(onset);
}

// The onsets of what the server played, on the high-resolution clock.
TheardClicks heardClicks(const TsoundCapture& capture, size_t quiet = quietFrames, int threshold = clickThreshold) {
    const TfittedLine frameTimes = capture.frameTimes();
    TheardClicks clicks;
    for (const size_t onset : findOnsets(capture.samples(), threshold, quiet)) {
        clicks.heardMs.push_back(frameTimes.at(static_cast<double>(onset)));
        clicks.centreMs.push_back(frameTimes.at(energyCentreFrom(capture.samples(), onset, centreReachFrames)));
    }
    return clicks;
}

std::optional<double> nearestClick(const TheardClicks& clicks, double atMs, double reachMs) {
    const auto after = std::lower_bound(clicks.heardMs.begin(), clicks.heardMs.end(), atMs);
    std::optional<double> nearest;
    if (after != clicks.heardMs.end()) nearest = *after;
    if (after != clicks.heardMs.begin() && (!nearest || atMs - *(after - 1) < *nearest - atMs)) nearest = *(after - 1);
    if (nearest && std::fabs(*nearest - atMs) > reachMs) return std::nullopt;
    return nearest;
}

struct TratePlay {
    std::vector<double> placement;
    // The same for the rows whose approach ran without a stall of the output or the music.
    std::vector<double> steadyPlacement;
    std::vector<double> judging;
    int32_t score = 0;
};

// What the mixer and the output did while a rate played, to tell a mapping fault from load.
struct TplayLogs {
    int64_t underruns = 0;
    std::vector<TblockRecord> blocks;
    std::vector<TframeSegment> segments;
};

// The moment (high-resolution ms) the mixer rendered an output frame, from the block that held it.
double renderedMsOf(const std::vector<TblockRecord>& blocks, int64_t outputFrame) {
    const auto after = std::upper_bound(blocks.begin(), blocks.end(), outputFrame,
                                        [](int64_t frame, const TblockRecord& block) { return frame < block.outputStart; });
    if (after == blocks.begin()) return 0.0;
    const TblockRecord& block = *(after - 1);
    return block.timeMs + static_cast<double>(outputFrame - block.outputStart) * 1000.0 / audioRate;
}

// Where the music did not run on at its pace while it played: pieces where it held (the
// stretcher or the decoder had nothing) and pieces that did not start where the last one ended;
// as render moments (ms).
std::vector<double> unsteadyMoments(const TplayLogs& logs) {
    std::vector<double> moments;
    const auto advancing = [](const TframeSegment& piece) { return piece.musicAdvance > 0; };
    const auto first = std::find_if(logs.segments.begin(), logs.segments.end(), advancing);
    const auto last = std::find_if(logs.segments.rbegin(), logs.segments.rend(), advancing).base();
    for (auto piece = first; piece < last; ++piece) {
        const bool held = piece->musicAdvance == 0;
        const bool jumped = piece != first && piece->musicStart != (piece - 1)->musicStart + (piece - 1)->musicAdvance;
        if (held || jumped) moments.push_back(renderedMsOf(logs.blocks, piece->outputStart));
    }
    return moments;
}

// The largest distance (ms) between a heard gap of clicks within [fromMs, toMs] and the gap the
// rate gives: a stall of the output or of the music between them lengthens one.
double heardGapDeviation(const std::vector<double>& heardMs, double fromMs, double toMs, double expectedGapMs) {
    double worst = 0.0;
    for (size_t i = 1; i < heardMs.size(); ++i)
        if (heardMs[i - 1] >= fromMs && heardMs[i] <= toMs)
            worst = std::max(worst, std::fabs(heardMs[i] - heardMs[i - 1] - expectedGapMs));
    return worst;
}

// How far off the capture's timing reads lie from the line its frame times are taken from.
double captureReadSpread(const TsoundCapture& capture) {
    const TfittedLine line = capture.frameTimes();
    std::vector<double> offsets;
    for (const TcaptureRead& read : capture.reads())
        offsets.push_back(std::fabs(read.playedMs - line.at(static_cast<double>(read.frames))));
    return percentile(offsets, 0.99);
}

// The stretcher's own timing at a rate: where Rubber Band says its output starts, and where its
// sound lands after that.
void printStretcherTiming(int32_t rateHundredths) {
    if (rateHundredths == 100) return;
    const double rate = rateHundredths / 100.0;
    std::string failure;
    const std::unique_ptr<TtimeStretcher> stretcher = TtimeStretcher::start(rate, failure);
    if (!stretcher) return;
    const double lag = TtimeStretcher::lagFramesAt(rate);
    std::printf("rate %d: stretcher start delay %zu frames, sound lands %.1f output frames (%.2f ms) after its song "
                "time\n",
                rateHundredths, stretcher->delayFrames(), lag, lag * 1000.0 / audioRate);
}

// Says where each row placed more than a ms off its heard click stands: a stall of the output or
// the music in its approach is load; an error with a steady approach is the clock's own.
// Returns the errors of the rows whose approach ran steadily.
std::vector<double> printDiagnosis(const TgeneratedSong& song, int32_t rateHundredths, const TplaySessionResult& result,
                                   const TheardClicks& clicks, const TplayLogs& logs, const TsoundCapture& capture) {
    const double rate = rateHundredths / 100.0;
    const double clickAfterBeatMs = chartLeadSongMs / rate;
    const double gapMs = song.rowSpacingSeconds * 1000.0 / rate;
    const std::vector<double> unsteady = unsteadyMoments(logs);
    const double latencyMs = programOutputReport().latencyMs;
    std::printf("rate %d: underruns %lld, music unsteady in %zu of %zu frame map pieces, output latency %.1f ms, "
                "capture reads off their line p99 %.2f ms\n",
                rateHundredths, static_cast<long long>(logs.underruns), unsteady.size(), logs.segments.size(), latencyMs,
                captureReadSpread(capture));
    std::vector<double> signedErrors;
    std::vector<double> centreErrors;
    std::vector<double> steadyErrors;
    size_t steadyOutliers = 0;
    for (const TactivatedRow& row : result.rows) {
        const double beatMs = row.perfectTime + clickAfterBeatMs;
        const std::optional<double> heard = nearestClick(clicks, beatMs, gapMs / 2.0);
        if (!heard) {
            std::printf("  row %u: no click heard within %.0f ms of its beat\n", row.row, gapMs / 2.0);
            continue;
        }
        const double error = *heard - beatMs;
        signedErrors.push_back(error);
        const auto index = static_cast<size_t>(std::lower_bound(clicks.heardMs.begin(), clicks.heardMs.end(), *heard) -
                                               clicks.heardMs.begin());
        centreErrors.push_back(clicks.centreMs[index] - beatMs - clickCentreSongMs / rate);
        const double approachFromMs = row.perfectTime - approachMs;
        const double gapOff = heardGapDeviation(clicks.heardMs, approachFromMs, *heard, gapMs);
        const bool unsteadyInApproach = std::any_of(unsteady.begin(), unsteady.end(), [&](double renderedMs) {
            return renderedMs >= approachFromMs - latencyMs && renderedMs <= *heard;
        });
        const bool steady = gapOff <= steadyGapMs && !unsteadyInApproach;
        if (steady) steadyErrors.push_back(std::fabs(error));
        if (std::fabs(error) <= 1.0) continue;
        steadyOutliers += steady ? 1 : 0;
        std::printf("  row %u: heard %+.2f ms from its beat, tick %.1f ms late, heard gaps off by up to %.2f ms in its "
                    "approach%s\n",
                    row.row, error, row.tickLateness, gapOff,
                    unsteadyInApproach ? ", the music held or jumped in it" : (steady ? ", steady" : ""));
    }
    std::printf("rate %d: heard onset minus beat p1 %+.2f p50 %+.2f p99 %+.2f ms, heard centre minus the beat's "
                "centre p1 %+.2f p50 %+.2f p99 %+.2f ms; %zu rows over 1 ms off with a steady approach\n",
                rateHundredths, percentile(signedErrors, 0.01), percentile(signedErrors, 0.5),
                percentile(signedErrors, 0.99), percentile(centreErrors, 0.01), percentile(centreErrors, 0.5),
                percentile(centreErrors, 0.99), steadyOutliers);
    return steadyErrors;
}

// The generated song played at a rate through the window loop with XTest presses, on the server,
// its output recorded: each marker's perfect time against the beat heard.
std::optional<TratePlay> playAtRate(const TgeneratedSong& song, int32_t rateHundredths) {
    TxTestPresser presser;
    TsoundCapture capture;
    std::string error;
    if (!presser.ready() || !capture.start(error)) {
        std::fprintf(stderr, "bench_rate: cannot press keys or record the server %s\n", error.c_str());
        return std::nullopt;
    }
    printStretcherTiming(rateHundredths);
    Tsounds sounds;
    Tstream music;
    auto game = std::make_unique<TtrellikGL>();
    const LaunchParameters parameters = defaultLaunchParameters("bench");
    for (int i = 0; i < 16; ++i) game->launch.keys[i] = parameters.keys[i];
    game->audio.sounds = &sounds;
    game->audio.music = &music;
    game->songs.songs.resize(1);
    game->songs.songs[0].name = song.name;
    game->practice.choice.rateHundredths = rateHundredths;
    fillChart(game->chart, song);
    TplayLogs logs;
    logs.underruns = programOutputReport().underruns;
    programMixer().startBlockLog(loggedPieces);
    programMixer().startSegmentLog(loggedPieces);
    const TplaySessionResult result =
        playSongThroughX(*game, presser, 0.0, song.seconds * 100.0 / rateHundredths + 30.0);
    std::this_thread::sleep_for(drainTime);
    capture.stop();
    logs.underruns = programOutputReport().underruns - logs.underruns;
    logs.blocks = programMixer().takeBlockLog();
    logs.segments = programMixer().takeSegmentLog();
    if (!result.ended) {
        std::fprintf(stderr, "bench_rate: the song did not play to its end at %d\n", rateHundredths);
        return std::nullopt;
    }
    const TheardClicks clicks = heardClicks(capture);
    TratePlay played;
    const double clickAfterBeatMs = chartLeadSongMs * 100.0 / rateHundredths;
    for (const TactivatedRow& row : result.rows)
        if (const std::optional<double> heard = nearestClick(clicks, row.perfectTime + clickAfterBeatMs, pairingReachMs))
            played.placement.push_back(std::fabs(*heard - row.perfectTime - clickAfterBeatMs));
    played.judging = pressJudgingErrors(result);
    played.score = result.finalScore.displayScore();
    std::printf("rate %d: rows %zu, paired with a heard click %zu, presses %zu, score %d\n", rateHundredths,
                result.rows.size(), played.placement.size(), result.presses.size(), played.score);
    played.steadyPlacement = printDiagnosis(song, rateHundredths, result, clicks, logs, capture);
    std::printf("rate %d: %zu of %zu rows came on and were heard with the output and the music steady\n",
                rateHundredths, played.steadyPlacement.size(), result.rows.size());
    return played;
}

// From the call that changes the rate to the first heard click at the new pace: clicks every 60
// ms of music, played at 1x, then at 1.5x (40 ms apart as heard).
std::optional<double> rateChangeLatencyMs(const std::string& folder) {
    std::vector<int16_t> samples(static_cast<size_t>(8.0 * audioRate) * audioChannels, 0);
    const size_t spacing = static_cast<size_t>(0.06 * audioRate);
    for (size_t first = spacing; first + 400 < samples.size() / 2; first += spacing)
        for (size_t i = 0; i < 200; ++i)
            samples[(first + i) * 2] = samples[(first + i) * 2 + 1] =
                static_cast<int16_t>(12000.0 * std::exp(-static_cast<double>(i) / 40.0) * std::sin(2.0 * M_PI * 1500.0 * i / audioRate));
    const std::string file = folder + "/pace.mp3";
    TsoundCapture capture;
    std::string error;
    if (!writeMp3File(file, samples, audioRate, audioChannels, 192) || !capture.start(error)) return std::nullopt;
    Tstream music;
    if (!music.open(file)) return std::nullopt;
    music.play();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double changedAt = systemHighResolutionMs();
    music.setRate(1.5);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    music.stop();
    std::this_thread::sleep_for(drainTime);
    capture.stop();
    // The short window stretches these 2 ms clicks to about half their peak.
    const std::vector<double> heard = heardClicks(capture, audioRate / 100, paceClickThreshold).heardMs;
    // The change is heard from the first of three gaps in a row nearer 40 ms than 60 ms.
    for (size_t i = 1; i + 3 < heard.size(); ++i) {
        const bool fast = heard[i + 1] - heard[i] < 50.0 && heard[i + 2] - heard[i + 1] < 50.0 && heard[i + 3] - heard[i + 2] < 50.0;
        if (heard[i] > changedAt && fast) return heard[i] - changedAt;
    }
    std::fprintf(stderr, "bench_rate: gaps between the clicks heard after the change (ms):");
    for (size_t i = 1; i < heard.size(); ++i)
        if (heard[i] > changedAt && heard[i] < changedAt + 1000.0) std::fprintf(stderr, " %.1f", heard[i] - heard[i - 1]);
    std::fprintf(stderr, "\n");
    return std::nullopt;
}

// The frequency (Hz, in half-hertz steps from 220 to 880) carrying the most power in a
// recording, by the Goertzel filter at each.
double dominantFrequency(const std::vector<int16_t>& mono) {
    double best = 0.0;
    double bestPower = -1.0;
    for (double frequency = 220.0; frequency <= 880.0; frequency += 0.5) {
        const double coefficient = 2.0 * std::cos(2.0 * M_PI * frequency / audioRate);
        double previous = 0.0;
        double beforePrevious = 0.0;
        for (const int16_t sample : mono) {
            const double next = sample + coefficient * previous - beforePrevious;
            beforePrevious = previous;
            previous = next;
        }
        const double power = previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
        if (power > bestPower) {
            bestPower = power;
            best = frequency;
        }
    }
    return best;
}

// How far (percent) the pitch of a steady 440 Hz tone played at the rate is heard from 440 Hz.
std::optional<double> pitchShiftPercent(const std::string& folder, double rate) {
    std::vector<int16_t> samples(static_cast<size_t>(6.0 * audioRate) * audioChannels);
    for (size_t i = 0; i < samples.size() / 2; ++i)
        samples[i * 2] = samples[i * 2 + 1] = static_cast<int16_t>(8000.0 * std::sin(2.0 * M_PI * 440.0 * i / audioRate));
    const std::string file = folder + "/tone.mp3";
    TsoundCapture capture;
    std::string error;
    if (!writeMp3File(file, samples, audioRate, audioChannels, 192) || !capture.start(error)) return std::nullopt;
    Tstream music;
    if (!music.open(file)) return std::nullopt;
    music.setRate(rate);
    music.play();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    music.stop();
    std::this_thread::sleep_for(drainTime);
    capture.stop();
    // The middle second of what was heard, away from the start and the stop.
    const std::vector<int16_t>& heard = capture.samples();
    size_t start = 0;
    while (start < heard.size() && std::abs(heard[start]) < 2000) ++start;
    if (start + 2 * audioRate > heard.size()) return std::nullopt;
    const std::vector<int16_t> middle(heard.begin() + static_cast<std::ptrdiff_t>(start + audioRate / 2),
                                      heard.begin() + static_cast<std::ptrdiff_t>(start + 3 * audioRate / 2));
    return std::fabs(dominantFrequency(middle) - 440.0) / 440.0 * 100.0;
}

}  // namespace

int main() {
    setenv("TRELLIK_AUDIO", "pulse", 1);
    std::printf("figure stretch_cpu value=%.1f unit=percent\n", stretchCpuPercent());

    TscratchFolder folder;
    TgeneratedSong song;
    song.seconds = 32.0;
    song.firstRowSeconds = 2.0;
    song.rowSpacingSeconds = 0.25;
    song.rows = 112;
    if (folder.path.empty() || !writeSongMusic(song, folder.path)) {
        std::fprintf(stderr, "bench_rate: cannot write the generated song\n");
        return 1;
    }
    Tsounds output;
    if (programOutputIsSilent()) {
        std::fprintf(stderr, "bench_rate: the output is not the sound server's\n");
        return 1;
    }
    // 1x too, measured the same way, as the yardstick of the other two.
    for (const int32_t rate : {100, 75, 150}) {
        const std::optional<TratePlay> played = playAtRate(song, rate);
        if (!played) return 1;
        const std::string suffix = "_" + rateText(rate);
        printFigure(("rate_beat_placement_error" + suffix).c_str(), played->placement);
        printFigure(("rate_beat_placement_error_steady" + suffix).c_str(), played->steadyPlacement);
        printFigure(pressFigureName("rate_press_judging_error" + suffix).c_str(), played->judging);
    }
    for (const double rate : {0.75, 1.5}) {
        const std::optional<double> shift = pitchShiftPercent(folder.path, rate);
        if (!shift) return 1;
        std::printf("figure rate_pitch_shift_%.2fx value=%.3f unit=percent\n", rate, *shift);
    }
    const std::optional<double> latency = rateChangeLatencyMs(folder.path);
    if (!latency) {
        std::fprintf(stderr, "bench_rate: the rate change was not heard\n");
        return 1;
    }
    std::printf("figure rate_change_latency value=%.1f unit=ms\n", *latency);
    return 0;
}
