// The assist tick against the beat it marks, as the sound server plays them: a generated song
// whose music is silent but for a click a fixed time after every marker's beat, played with the
// tick on (no presses), the server's monitor recorded. In the recording each tick is followed by
// its music click; the gap between their onsets, less the fixed time, is how far the tick is from
// the heard beat. Played twice, with an audio offset of 0 and of 80 ms, which moves the markers
// but never the tick's place in the music.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench/support/gameDriver.h"
#include "bench/support/playFigures.h"
#include "bench/support/playSession.h"
#include "bench/support/soundCapture.h"
#include "engine/trellikGL38Engine.h"
#include "platform/sound/audioDecoder.h"
#include "platform/sound/audioEngine.h"
#include "platform/sound/soundEngine.h"
#include "platform/store/pathResolver.h"
#include "tools/mp3Writer.h"

namespace {

// The music's click follows each marker's beat by this long, so tick and click stand apart.
constexpr double clickAfterBeatMs = 120.0;
// A marker's beat is this long before its row's time in the music.
constexpr double beatBeforeRowMs = 50.0;
constexpr int onsetThreshold = 4000;
constexpr size_t quietFrames = audioRate / 50;

double framesToMs(double frames) {
    return frames * 1000.0 / audioRate;
}

// A short 2 kHz click a fixed time after every row's beat, in silence.
std::vector<int16_t> beatClickMusic(const TgeneratedSong& song) {
    std::vector<int16_t> samples(2 * static_cast<size_t>(song.seconds * audioRate), 0);
    for (int32_t row = 0; row < song.rows; ++row) {
        const double rowMs = (song.firstRowSeconds + row * song.rowSpacingSeconds) * 1000.0;
        const double atMs = rowMs - beatBeforeRowMs + clickAfterBeatMs;
        const size_t first = static_cast<size_t>(std::llround(atMs * audioRate / 1000.0));
        for (size_t i = 0; i < 220 && 2 * (first + i) + 1 < samples.size(); ++i) {
            const double value = 12000.0 * std::sin(2.0 * M_PI * 2000.0 * static_cast<double>(i) / audioRate);
            samples[2 * (first + i)] = samples[2 * (first + i) + 1] = static_cast<int16_t>(value);
        }
    }
    return samples;
}

// The first frame of a sound that reaches the onset threshold, or nothing.
std::optional<size_t> ownOnset(const std::vector<int16_t>& mono, size_t from = 0) {
    for (size_t i = from; i < mono.size(); ++i)
        if (std::abs(static_cast<int>(mono[i])) >= onsetThreshold) return i;
    return std::nullopt;
}

std::vector<int16_t> decodedLeft(const std::string& file) {
    std::vector<uint8_t> bytes;
    if (!readWholeFile(file, bytes)) return {};
    return leftChannel(decodeWholeMp3(std::move(bytes), size_t{600} * audioRate));
}

bool playWithTicks(const TgeneratedSong& song, int32_t audioOffset) {
    Tsounds sounds;
    Tstream music;
    auto game = std::make_unique<TtrellikGL>();
    const LaunchParameters parameters = defaultLaunchParameters("bench");
    for (int i = 0; i < 16; ++i) game->launch.keys[i] = parameters.keys[i];
    game->launch.audioOffset = audioOffset;
    game->assist.mode = TassistMode::tick;
    game->audio.sounds = &sounds;
    game->audio.music = &music;
    game->songs.songs.resize(1);
    game->songs.songs[0].name = song.name;
    fillChart(game->chart, song);
    const TplaySessionResult result = playSong(*game, false, song.seconds + 30.0);
    std::printf("audio offset %d: rows %zu, song ended %s\n", audioOffset, result.rows.size(),
                result.ended ? "yes" : "no");
    return result.ended;
}

// Each tick onset followed by its click onset the fixed time later (within 20 ms): the tick's
// distance from the heard beat.
std::vector<double> tickErrors(const std::vector<int16_t>& recording, size_t tickOwn, size_t clickOwn) {
    const std::vector<size_t> onsets = findOnsets(recording, onsetThreshold, quietFrames);
    std::vector<double> errors;
    for (size_t i = 0; i + 1 < onsets.size(); ++i) {
        const double gapMs = framesToMs(static_cast<double>(onsets[i + 1]) - static_cast<double>(onsets[i]));
        if (std::fabs(gapMs - clickAfterBeatMs) > 20.0) continue;
        const double tickHeard = static_cast<double>(onsets[i]) - static_cast<double>(tickOwn);
        const double beatHeard = static_cast<double>(onsets[i + 1]) - static_cast<double>(clickOwn);
        const double errorMs = framesToMs(beatHeard - tickHeard) - clickAfterBeatMs;
        errors.push_back(std::fabs(errorMs));
        if (std::getenv("TRELLIK_BENCH_DETAIL")) std::printf("tick at frame %zu off by %.3f ms\n", onsets[i], errorMs);
        ++i;
    }
    std::printf("recording: %zu onsets, %zu ticks paired with their beat's click\n", onsets.size(), errors.size());
    return errors;
}

int fail(const char* why) {
    std::fprintf(stderr, "bench_assist_tick: %s\n", why);
    return 1;
}

}  // namespace

int main() {
    setenv("TRELLIK_AUDIO", "pulse", 1);
    const TscratchFolder folder;
    TgeneratedSong song;
    song.seconds = 34.0;
    song.firstRowSeconds = 2.0;
    song.rowSpacingSeconds = 0.5;
    song.rows = 60;
    const std::string musicFile = joinPath(joinPath(folder.path, "sng"), song.name + ".mp3");
    std::error_code failed;
    std::filesystem::create_directories(joinPath(folder.path, "sng"), failed);
    std::filesystem::copy(stockPackFolder() + "/server/snd", joinPath(folder.path, "snd"), failed);
    if (failed || !writeMp3File(musicFile, beatClickMusic(song), audioRate, audioChannels, 192))
        return fail("cannot prepare the song and the stock sounds");
    const std::vector<int16_t> tick = decodedLeft(joinPath(folder.path, "snd/assistTick.mp3"));
    const std::vector<int16_t> track = decodedLeft(musicFile);
    const size_t firstClickFrame = static_cast<size_t>(
        std::llround(((song.firstRowSeconds * 1000.0) - beatBeforeRowMs + clickAfterBeatMs) * audioRate / 1000.0));
    const std::optional<size_t> tickOwn = ownOnset(tick);
    const std::optional<size_t> clickAt = ownOnset(track, firstClickFrame > 200 ? firstClickFrame - 200 : 0);
    if (!tickOwn || !clickAt || *clickAt < firstClickFrame)
        return fail("the tick or the click never reaches the threshold");
    const size_t clickOwn = *clickAt - firstClickFrame;

    std::string error;
    TsoundCapture capture;
    if (!capture.start(error)) return fail(("cannot record the sound server: " + error).c_str());
    ensureConsoleFont();
    const bool played = playWithTicks(song, 0) && playWithTicks(song, 80);
    const ToutputReport report = programOutputReport();
    capture.stop();
    std::printf("%s\n", report.line.c_str());
    if (!played) return fail("the song did not play to its end");
    if (report.silent || report.estimated) return fail("the output is not the sound server's");
    const std::vector<double> errors = tickErrors(capture.samples(), *tickOwn, clickOwn);
    if (errors.size() < static_cast<size_t>(song.rows)) return fail("too few ticks found in the recording");
    printFigure("assist_tick_error", errors);
    std::printf("figure output_latency_assist value=%.3f unit=ms\n", report.latencyMs);
    std::printf("figure output_underruns_assist value=%lld unit=count\n", static_cast<long long>(report.underruns));
    return 0;
}
