// The music at other rates through the stretcher: pitch kept, the clock on song time, the edges.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/sound/audioMixer.h"
#include "tests/test_sound_fixtures.h"

namespace {

class TsetPlaybackTimer : public TplaybackTimer {
public:
    int64_t playing = 0;
    int64_t playingOutputFrame(double) override { return playing; }
};

std::vector<uint8_t> toneMp3(int32_t frames, double frequency, bool clicksOnly) {
    std::vector<int16_t> samples(static_cast<size_t>(frames) * audioChannels);
    for (int32_t i = 0; i < frames; ++i) {
        const bool click = i % (audioRate / 2) < 40;
        const double tone = 8000.0 * std::sin(2.0 * M_PI * frequency * i / audioRate);
        const double value = clicksOnly ? (click ? 20000.0 : 0.0) : tone;
        samples[static_cast<size_t>(i) * 2] = samples[static_cast<size_t>(i) * 2 + 1] = static_cast<int16_t>(value);
    }
    return encodeMp3(samples, audioRate, audioChannels, 192);
}

class StretchTest : public ::testing::Test {
protected:
    StretchTest() { mixer.setPlaybackTimer(&timer); }
    ~StretchTest() override { mixer.setPlaybackTimer(nullptr); }

    std::shared_ptr<TstreamHandle> playing(std::vector<uint8_t> mp3, double rate) {
        bytes = std::move(mp3);
        auto stream = mixer.openStream(bytes);
        mixer.play(stream);
        inForce = mixer.setMusicRate(stream, rate);
        return stream;
    }

    std::vector<int16_t> render(size_t frames) {
        renderedBefore = rendered;
        rendered += static_cast<int64_t>(frames);
        std::vector<int16_t> all(frames * audioChannels);
        for (size_t done = 0; done < frames; done += 512) {
            mixer.decodeAhead();
            mixer.render(all.data() + done * audioChannels, std::min<size_t>(512, frames - done), clockMs);
            clockMs += 512 * 1000.0 / audioRate;
        }
        return all;
    }

    int64_t heardAt(const std::shared_ptr<TstreamHandle>& stream, int64_t outputFrame) {
        timer.playing = outputFrame;
        return mixer.positionFrames(stream, clockMs);
    }

    TaudioMixer mixer{false};
    TsetPlaybackTimer timer;
    std::vector<uint8_t> bytes;
    double clockMs = 1000.0;
    double inForce = 0.0;
    // Output frames rendered before the last render, and in all.
    int64_t renderedBefore = 0;
    int64_t rendered = 0;
};

// Cycles per second of the left channel between two output frames, from its upward zero crossings.
double dominantFrequency(const std::vector<int16_t>& samples, size_t from, size_t to) {
    size_t first = 0;
    size_t last = 0;
    int32_t crossings = -1;
    for (size_t i = from + 1; i < to; ++i) {
        if (samples[(i - 1) * 2] >= 0 || samples[i * 2] < 0) continue;
        if (crossings < 0) first = i;
        last = i;
        ++crossings;
    }
    return crossings <= 0 ? 0.0 : crossings * static_cast<double>(audioRate) / static_cast<double>(last - first);
}

// The energy centre of the left channel within reach frames of an output frame.
double energyCentre(const std::vector<int16_t>& samples, double around, double reach) {
    double weighted = 0.0;
    double energy = 0.0;
    const auto from = static_cast<size_t>(std::max(0.0, around - reach));
    for (size_t i = from; i < std::min(samples.size() / 2, static_cast<size_t>(around + reach)); ++i) {
        const double power = static_cast<double>(samples[i * 2]) * samples[i * 2];
        weighted += power * static_cast<double>(i);
        energy += power;
    }
    return energy > 0.0 ? weighted / energy : -1.0;
}

}  // namespace

TEST_F(StretchTest, ATonePlayedSlowerOrFasterKeepsItsPitch) {
    for (const double rate : {0.75, 1.5}) {
        const auto stream = playing(toneMp3(4 * audioRate, 440.0, false), rate);
        ASSERT_EQ(inForce, rate);
        const std::vector<int16_t> out = render(2 * audioRate);
        EXPECT_NEAR(dominantFrequency(out, audioRate / 2, 2 * audioRate), 440.0, 4.4) << rate;
    }
}

TEST_F(StretchTest, EachClickIsHeardWhenTheClockSaysItsSongFrameIsPlaying) {
    for (const double rate : {0.75, 1.5}) {
        const auto stream = playing(toneMp3(6 * audioRate, 0.0, true), rate);
        const std::vector<int16_t> out = render(3 * audioRate);
        // A click's sound centres on its middle. The stretcher smears a click by up to a
        // millisecond either way, and a millisecond of what the player hears is rate times as
        // much music.
        for (int32_t click = 1; click * audioRate / 2 < 2 * audioRate * rate; ++click) {
            const double clickCentre = click * audioRate / 2 + 19.5;
            const double centre = energyCentre(out, clickCentre / rate, 2000.0);
            const double heard = static_cast<double>(heardAt(stream, renderedBefore + std::llround(centre)));
            EXPECT_NEAR(heard, clickCentre, 0.0015 * audioRate * rate) << rate << " click " << click;
        }
        const int64_t runFrom = heardAt(stream, renderedBefore + 10000);
        EXPECT_NEAR(static_cast<double>(heardAt(stream, renderedBefore + 30000) - runFrom), 20000 * rate, 1.0) << rate;
    }
}

TEST_F(StretchTest, OnlyRatesFromHalfToDoubleAreTaken) {
    struct Tcase {
        double asked;
        double taken;
    };
    for (const Tcase item : {Tcase{0.4999, 1.0}, Tcase{0.5, 0.5}, Tcase{0.5001, 0.5001}, Tcase{1.9999, 1.9999},
                             Tcase{2.0, 2.0}, Tcase{2.0001, 1.0}, Tcase{NAN, 1.0}}) {
        playing(toneMp3(audioRate, 440.0, false), item.asked);
        EXPECT_EQ(inForce, item.taken) << item.asked;
    }
}

TEST_F(StretchTest, WithoutTheLibraryTheMusicPlaysOnAtItsOwnSpeed) {
    setenv("TRELLIK_RUBBERBAND", "/nonexistent/librubberband.so.2", 1);
    const auto stream = playing(toneMp3(2 * audioRate, 440.0, false), 1.5);
    unsetenv("TRELLIK_RUBBERBAND");
    EXPECT_EQ(inForce, 1.0);
    render(audioRate / 2);
    EXPECT_EQ(heardAt(stream, 10000), 10000);
}

TEST_F(StretchTest, StretchedMusicComesToItsEndAndARateChangeMovesTheClockOn) {
    const auto stream = playing(toneMp3(audioRate, 440.0, false), 2.0);
    const int64_t length = mixer.lengthFrames(stream);
    render(audioRate / 4);
    const int64_t early = heardAt(stream, 1000);
    EXPECT_NEAR(static_cast<double>(heardAt(stream, 5000) - early), 8000.0, 1.0);
    EXPECT_EQ(mixer.setMusicRate(stream, 1.0), 1.0);
    render(audioRate);
    EXPECT_EQ(heardAt(stream, audioRate + audioRate / 4), length) << "the tail was flushed out";
}

TEST_F(StretchTest, AnEffectAtASongTimeStartsOnTheOutputFrameThatCarriesIt) {
    const auto stream = playing(toneMp3(3 * audioRate, 0.0, true), 1.5);
    render(4096);
    auto effect = std::make_shared<TsampleHandle>();
    // Far louder than what the stretcher leaves between the music's clicks, which song frame
    // 30000 lies between.
    effect->samples.assign(2 * audioChannels, 30000);
    const int64_t songFrame = 30000;
    ASSERT_TRUE(mixer.playEffectAtSongTime(effect, stream, songFrame, clockMs));
    const std::vector<int16_t> out = render(20000);
    size_t first = 0;
    while (first < out.size() / 2 && out[first * 2] < 25000) ++first;
    const int64_t startFrame = 4096 + static_cast<int64_t>(first);
    EXPECT_NEAR(static_cast<double>(startFrame), 20000.0, 500.0) << "about 20000 output frames in at 1.5x";
    EXPECT_NEAR(static_cast<double>(heardAt(stream, startFrame)), songFrame, 1.5);
}

namespace {

// The output frames where clicks start in a render: the first loud frame after a quiet stretch.
std::vector<size_t> clickStarts(const std::vector<int16_t>& samples) {
    std::vector<size_t> starts;
    size_t quiet = audioRate;
    for (size_t i = 0; i < samples.size() / 2; ++i) {
        if (std::abs(samples[i * 2]) < 4000) {
            ++quiet;
            continue;
        }
        if (quiet > 2000) starts.push_back(i);
        quiet = 0;
    }
    return starts;
}

}  // namespace

// Output frames from a rate change within which the stretcher's own window mixes the two paces.
constexpr size_t changeoverFrames = 2048;

// A rate changed while the stretcher runs: the frames it had made play out at the old rate, and
// every click after them is heard where the clock puts its song frame, at the new pace.
TEST_F(StretchTest, AfterARateChangeOnTheRunEachClickIsHeardWhereTheClockSaysItsSongFrameIs) {
    struct Tchange {
        double from;
        double to;
    };
    for (const Tchange change : {Tchange{0.75, 1.5}, Tchange{1.5, 0.75}, Tchange{1.25, 2.0}}) {
        const auto stream = playing(toneMp3(12 * audioRate, 0.0, true), change.from);
        render(audioRate);
        ASSERT_EQ(mixer.setMusicRate(stream, change.to), change.to);
        const int64_t changedAt = rendered;
        const std::vector<int16_t> out = render(3 * audioRate);
        const std::vector<size_t> starts = clickStarts(out);
        // Half a second of music between clicks: the new pace sets how many output frames apart.
        ASSERT_GE(starts.size(), 4u) << change.to;
        EXPECT_NEAR(static_cast<double>(starts.back() - starts[starts.size() - 2]), audioRate / 2 / change.to, 150.0)
            << change.from << " to " << change.to;
        for (const size_t start : starts) {
            // A click the stretcher was making as the rate changed is smeared over both paces.
            if (start < changeoverFrames) continue;
            const double centre = energyCentre(out, static_cast<double>(start) + 100.0, 1000.0);
            const int64_t heard = heardAt(stream, changedAt + std::llround(centre));
            const double clickCentre = std::round(static_cast<double>(heard) / (audioRate / 2)) * (audioRate / 2) + 19.5;
            // The stretcher moves from one pace to the other over its window, which leaves a click
            // up to 2 ms of what is heard off; frames taken at the wrong pace leave it 24 ms off.
            EXPECT_NEAR(static_cast<double>(heard), clickCentre, 0.003 * audioRate * change.to)
                << change.from << " to " << change.to << ", click at output frame " << changedAt + start;
        }
    }
}

namespace {

// A 5 ms burst every half second at the pitch (0: a plain pulse, every pitch at once).
std::vector<uint8_t> burstsMp3(int32_t frames, double frequency) {
    std::vector<int16_t> samples(static_cast<size_t>(frames) * audioChannels);
    for (int32_t i = 0; i < frames; ++i) {
        const int32_t into = i % (audioRate / 2);
        const double wave = frequency == 0.0 ? 1.0 : std::sin(2.0 * M_PI * frequency * into / audioRate);
        const double value = into < 220 ? 12000.0 * wave : 0.0;
        samples[static_cast<size_t>(i) * 2] = samples[static_cast<size_t>(i) * 2 + 1] = static_cast<int16_t>(value);
    }
    return encodeMp3(samples, audioRate, audioChannels, 192);
}

}  // namespace

// A beat is heard where the clock says whatever its pitch: a stretcher whose window differs by
// band lands a hi-hat milliseconds away from a kick on the same song time.
TEST_F(StretchTest, BurstsOfEveryPitchAreHeardAtTheSameDistanceFromTheClock) {
    for (const double rate : {0.75, 2.0}) {
        std::vector<double> meanOffMs;
        for (const double frequency : {0.0, 6000.0}) {
            const auto stream = playing(burstsMp3(8 * audioRate, frequency), rate);
            const std::vector<int16_t> out = render(3 * audioRate);
            double total = 0.0;
            int32_t counted = 0;
            for (int32_t burst = 1; burst * audioRate / 2 < 2.5 * audioRate * rate; ++burst) {
                const double burstCentre = burst * audioRate / 2 + 110.0;
                const double centre = energyCentre(out, burstCentre / rate, 2000.0);
                const auto heard = static_cast<double>(heardAt(stream, renderedBefore + std::llround(centre)));
                total += (heard - burstCentre) / rate * 1000.0 / audioRate;
                ++counted;
            }
            ASSERT_GT(counted, 0);
            meanOffMs.push_back(total / counted);
        }
        EXPECT_NEAR(meanOffMs[1], meanOffMs[0], 1.0) << "ms between a 6 kHz burst and a pulse at " << rate;
    }
}
