// Tick lateness of the 1 ms timer and the music clock's error, measured together while the
// window loop draws a play-field-sized load on the silent clocked output.
#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/support/playFigures.h"
#include "bench/support/playSession.h"
#include "bench/support/soundCapture.h"
#include "platform/SVATimerCode.h"
#include "platform/sound/audioEngine.h"
#include "platform/sound/audioMixer.h"
#include "platform/sound/audioOutput.h"
#include "platform/clockSeam.h"
#include "platform/window/openGLClass.h"
#include "platform/sound/soundEngine.h"
#include "tools/mp3Writer.h"

namespace {

constexpr double runSeconds = 31.0;
constexpr double musicSeconds = 33.0;
constexpr int quadsPerFrame = 300;

// One music read by the play tick: when, what the clock said, and what was handed over.
struct TmusicRead {
    double timeMs;
    int32_t positionMs;
    int32_t handedOverMs;
};

// A tone with clicks, long enough to outlast the run.
std::vector<int16_t> musicSamples() {
    const size_t frames = static_cast<size_t>(musicSeconds * audioRate);
    std::vector<int16_t> samples(frames * audioChannels);
    for (size_t i = 0; i < frames; ++i) {
        const double value = 8000.0 * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(i) / audioRate) +
                             (i % (audioRate / 2) < 64 ? 12000.0 : 0.0);
        samples[i * 2] = samples[i * 2 + 1] = static_cast<int16_t>(value);
    }
    return samples;
}

// The straight line of music frames against time, fitted to the blocks the music advanced in.
struct TclockLine {
    TfittedLine frames;  // music frame against time in ms
    double firstMs = 0.0;
    double lastMs = 0.0;

    double frameAt(double timeMs) const { return frames.at(timeMs); }
    double framesPerMs() const { return frames.slope; }
};

TclockLine fitClockLine(const std::vector<TblockRecord>& blocks) {
    std::vector<double> times;
    std::vector<double> musicFrames;
    for (const TblockRecord& block : blocks) {
        if (block.streamFramesTaken != outputBlockFrames) continue;
        times.push_back(block.timeMs);
        musicFrames.push_back(static_cast<double>(block.streamFrame));
    }
    TclockLine line;
    if (times.size() < 2) return line;
    line.frames = fitLine(times, musicFrames);
    line.firstMs = times.front();
    line.lastMs = times.back();
    return line;
}

// A small checker texture, as the play field's panels and markers are textured.
GLuint makeTexture() {
    constexpr int size = 64;
    std::vector<uint8_t> pixels(size * size * 4);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            uint8_t* pixel = &pixels[static_cast<size_t>(y * size + x) * 4];
            const bool light = ((x / 8) + (y / 8)) % 2 == 0;
            pixel[0] = light ? 230 : 40;
            pixel[1] = static_cast<uint8_t>(x * 4);
            pixel[2] = static_cast<uint8_t>(y * 4);
            pixel[3] = 200;
        }
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, size, size, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return texture;
}

// A grid of blended textured quads over the view, like panels, markers and digits.
void drawLoad(GLuint texture, double timeMs) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, -7.0f);
    glBindTexture(GL_TEXTURE_2D, texture);
    const float wobble = static_cast<float>(std::sin(timeMs / 300.0) * 0.05);
    glBegin(GL_QUADS);
    for (int i = 0; i < quadsPerFrame; ++i) {
        const float x = -3.0f + static_cast<float>(i % 20) * 0.3f + wobble;
        const float y = -2.2f + static_cast<float>(i / 20) * 0.3f;
        glTexCoord2f(0, 0);
        glVertex3f(x, y, 0);
        glTexCoord2f(1, 0);
        glVertex3f(x + 0.28f, y, 0);
        glTexCoord2f(1, 1);
        glVertex3f(x + 0.28f, y + 0.28f, 0);
        glTexCoord2f(0, 1);
        glVertex3f(x, y + 0.28f, 0);
    }
    glEnd();
}

// Error of each read against the output's steady clock, for the clock and for the raw count.
void reportMusicClock(const std::vector<TmusicRead>& reads, const std::vector<TblockRecord>& blocks) {
    const TclockLine line = fitClockLine(blocks);
    std::vector<double> errors;
    std::vector<double> rawErrors;
    int32_t backsteps = 0;
    int32_t previous = -1;
    for (const TmusicRead& read : reads) {
        if (read.timeMs < line.firstMs || read.timeMs > line.lastMs) continue;
        const double truthMs = line.frameAt(read.timeMs) * 1000.0 / audioRate;
        errors.push_back(std::fabs(read.positionMs - truthMs));
        rawErrors.push_back(std::fabs(read.handedOverMs - truthMs));
        if (previous >= 0 && read.positionMs < previous) ++backsteps;
        previous = read.positionMs;
    }
    const double oursP99 = percentile(errors, 0.99);
    printFigure("music_clock_error", errors);
    printFigure("music_clock_error_raw", rawErrors);
    std::printf("figure music_clock_backsteps value=%d unit=count\n", backsteps);
    std::printf("figure music_clock_raw_over_ours_p99 value=%.1f unit=ratio\n",
                oursP99 > 0 ? percentile(rawErrors, 0.99) / oursP99 : 0.0);
    std::printf("figure music_clock_reads value=%zu unit=count\n", errors.size());
    std::printf("figure music_output_rate value=%.3f unit=frames_per_s\n", line.framesPerMs() * 1000.0);
}

}  // namespace

int main() {
    setenv("TRELLIK_AUDIO", "silent", 1);
    // Everything the run writes (music, console font, logs) stays in a folder of its own.
    const TscratchFolder folder;
    const std::string musicFile = folder.path + "/music.mp3";
    if (folder.path.empty() || !writeMp3File(musicFile, musicSamples(), audioRate, audioChannels, 128)) {
        std::fprintf(stderr, "bench_timing: cannot write the music file\n");
        return 1;
    }
    Tsounds sounds;
    Tstream music;
    if (!music.open(musicFile)) {
        std::fprintf(stderr, "bench_timing: cannot open the music file\n");
        return 1;
    }

    std::vector<double> lateness;
    std::vector<double> wakeUpLateness;
    std::vector<double> frameTimes;
    std::vector<TmusicRead> reads;
    lateness.reserve(64000);
    wakeUpLateness.reserve(64000);
    frameTimes.reserve(200000);
    reads.reserve(64000);
    TSVATimer tick;
    tick.setThreadPriority(tpHighest);
    tick.setInterval(1);
    tick.OnTimer = [&](TSVATimer& sender) {
        const double now = systemHighResolutionMs();
        lateness.push_back(now - sender.tickDueMs());
        wakeUpLateness.push_back(sender.tickPostedMs() - sender.tickDueMs());
        const int32_t position = music.positionMS();
        const int32_t handedOver = music.handedOverMS();
        reads.push_back({(now + systemHighResolutionMs()) / 2.0, position, handedOver});
    };

    ensureConsoleFont();
    TopenGLEngine window;
    window.setup(600, 600, false, "timing benchmark", "font.fnt");
    GLuint texture = 0;
    double startMs = 0.0;
    double lastFrameMs = 0.0;
    window.onInitialise = [&] {
        texture = makeTexture();
        programMixer().startBlockLog(static_cast<size_t>(runSeconds * audioRate / outputBlockFrames) + 200);
        music.play();
        tick.setEnabled(true);
        startMs = lastFrameMs = systemHighResolutionMs();
    };
    window.onDraw = [&] {
        const double now = systemHighResolutionMs();
        frameTimes.push_back(now - lastFrameMs);
        lastFrameMs = now;
        drawLoad(texture, now);
        return now - startMs < runSeconds * 1000.0;
    };
    window.run();
    tick.setEnabled(false);
    music.stop();
    const std::vector<TblockRecord> blocks = programMixer().takeBlockLog();

    printFigure("tick_lateness", lateness);
    std::printf("figure tick_count value=%zu unit=count\n", lateness.size());
    printFigure("tick_wakeup_lateness", wakeUpLateness);
    printFigure("frame_time", frameTimes);
    reportMusicClock(reads, blocks);
    return 0;
}
