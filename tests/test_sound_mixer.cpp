// The mixer driven block by block at exact times: length, seeking, looping, the clock, effects.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "platform/sound/audioMixer.h"
#include "tests/test_sound_fixtures.h"

namespace {

constexpr int32_t oneMp3Frame = 1152;
constexpr double blockMs = 512 * 1000.0 / audioRate;

class MixerTest : public ::testing::Test {
protected:
    TaudioMixer mixer{false};
    double clockMs = 1000.0;

    std::shared_ptr<TstreamHandle> openTrack(int32_t frames) {
        bytes = clickTrackMp3(frames);
        return mixer.openStream(bytes);
    }

    // Decodes ahead and takes one block at the current time, then moves the time one block on.
    std::vector<int16_t> renderBlock(size_t frames = 512) {
        mixer.decodeAhead();
        std::vector<int16_t> block(frames * audioChannels);
        mixer.render(block.data(), frames, clockMs);
        clockMs += frames * 1000.0 / audioRate;
        return block;
    }

    std::vector<int16_t> renderFrames(size_t frames) {
        std::vector<int16_t> all;
        while (all.size() < frames * audioChannels) {
            const std::vector<int16_t> block = renderBlock();
            all.insert(all.end(), block.begin(), block.end());
        }
        all.resize(frames * audioChannels);
        return all;
    }

    std::vector<uint8_t> bytes;
};

std::shared_ptr<TsampleHandle> constantEffect(int16_t value, int32_t frames) {
    auto sample = std::make_shared<TsampleHandle>();
    sample->samples.assign(static_cast<size_t>(frames) * audioChannels, value);
    return sample;
}

}  // namespace

TEST_F(MixerTest, LengthIsTheDecodedFrameCount) {
    const int32_t frames = 2 * audioRate + 123;
    const auto stream = openTrack(frames);
    ASSERT_TRUE(stream);
    const int64_t length = mixer.lengthFrames(stream);
    EXPECT_NEAR(static_cast<double>(length), frames, oneMp3Frame);
    EXPECT_EQ(static_cast<size_t>(length), decodeWholeMp3(bytes, 10 * audioRate).size() / audioChannels);
    EXPECT_EQ(framesToMs(length), framesToMs(frames));
}

TEST_F(MixerTest, OtherRatesAndMonoComeOutAtTheOutputRate) {
    struct Tcase {
        int32_t rate;
        int32_t channels;
    };
    for (const Tcase format : {Tcase{22050, 1}, Tcase{48000, 2}, Tcase{32000, 1}}) {
        const std::vector<uint8_t> track = clickTrackMp3(format.rate, format.rate, format.channels);
        const auto stream = mixer.openStream(track);
        ASSERT_TRUE(stream) << format.rate;
        const double sourceFrameAtOutputRate = oneMp3Frame * static_cast<double>(audioRate) / format.rate;
        EXPECT_NEAR(static_cast<double>(mixer.lengthFrames(stream)), audioRate, sourceFrameAtOutputRate)
            << format.rate << " Hz, " << format.channels << " channels";
    }
}

TEST_F(MixerTest, PositionInterpolatesBetweenBlocksButNotPastWhatWasHandedOver) {
    const auto stream = openTrack(audioRate);
    mixer.play(stream);
    EXPECT_EQ(mixer.positionFrames(stream, clockMs), 0);
    const double taken = clockMs;
    renderBlock();
    EXPECT_EQ(mixer.handedOverFrames(stream), 512);
    EXPECT_EQ(mixer.positionFrames(stream, taken), 0);
    EXPECT_EQ(mixer.positionFrames(stream, taken + 5.0), 220);
    EXPECT_EQ(mixer.positionFrames(stream, taken + 11.0), 485);
    EXPECT_EQ(mixer.positionFrames(stream, taken + 30.0), 512) << "the next block is late";
    renderBlock();
    EXPECT_EQ(mixer.positionFrames(stream, taken + 30.0), 1024);
}

TEST_F(MixerTest, PositionNeverStepsBackWhenBlocksComeEarlyOrLate) {
    const auto stream = openTrack(audioRate);
    mixer.play(stream);
    const double jitter[] = {0.0, 3.0, -2.5, 1.0, -0.5, 4.0, -3.5, 0.2};
    int64_t previous = 0;
    double readAt = clockMs;
    for (int block = 0; block < 40; ++block) {
        const double takenAt = 1000.0 + block * blockMs + jitter[block % 8];
        for (; readAt < takenAt; readAt += 0.25) {
            const int64_t position = mixer.positionFrames(stream, readAt);
            ASSERT_GE(position, previous) << "at " << readAt;
            ASSERT_LE(position, mixer.handedOverFrames(stream));
            previous = position;
        }
        mixer.decodeAhead();
        std::vector<int16_t> out(512 * audioChannels);
        mixer.render(out.data(), 512, takenAt);
    }
}

TEST_F(MixerTest, SeekLandsOnTheExactFrame) {
    const auto stream = openTrack(audioRate);
    const std::vector<int16_t> reference = decodeWholeMp3(bytes, audioRate * 2);
    mixer.play(stream);
    for (const int64_t target : {int64_t{30000}, int64_t{0}, int64_t{12345}}) {
        mixer.seek(stream, target);
        EXPECT_EQ(mixer.positionFrames(stream, clockMs), target);
        const std::vector<int16_t> played = renderFrames(2048);
        ASSERT_TRUE(std::equal(played.begin(), played.end(), reference.begin() + target * audioChannels))
            << "after a seek to " << target;
    }
    mixer.seek(stream, 10 * audioRate);
    EXPECT_EQ(mixer.positionFrames(stream, clockMs), mixer.lengthFrames(stream)) << "seeks stop at the end";
}

TEST_F(MixerTest, LoopingRestartsWithoutAGap) {
    const auto stream = openTrack(3000);
    const std::vector<int16_t> reference = decodeWholeMp3(bytes, audioRate);
    const size_t length = reference.size() / audioChannels;
    ASSERT_EQ(static_cast<int64_t>(length), mixer.lengthFrames(stream));
    mixer.setLooping(stream, true);
    mixer.play(stream);
    const std::vector<int16_t> played = renderFrames(length * 3 + 100);
    for (size_t i = 0; i < played.size(); ++i)
        ASSERT_EQ(played[i], reference[i % reference.size()]) << "sample " << i;
    const size_t rendered = (played.size() / audioChannels + 511) / 512 * 512;
    EXPECT_EQ(mixer.handedOverFrames(stream), static_cast<int64_t>(rendered % length));
    EXPECT_LT(mixer.positionFrames(stream, clockMs), static_cast<int64_t>(length));
}

// Block 5 (frames 2560 to 3072) holds the restart at 3000, 440 frames into the block.
TEST_F(MixerTest, PositionJustAfterALoopRestartIsNearZero) {
    const auto stream = openTrack(3000);
    ASSERT_EQ(mixer.lengthFrames(stream), 3000);
    mixer.setLooping(stream, true);
    mixer.play(stream);
    renderFrames(5 * 512);
    const double blockTakenAt = clockMs;
    renderBlock();
    const auto readAtFrame = [&](double frame) {
        return mixer.positionFrames(stream, blockTakenAt + frame * 1000.0 / audioRate);
    };
    EXPECT_EQ(readAtFrame(439.5), 2999);
    EXPECT_EQ(readAtFrame(440.5), 0) << "the restart itself";
    EXPECT_EQ(readAtFrame(460.5), 20);
}

TEST_F(MixerTest, WithoutLoopingTheMusicEndsAtItsLength) {
    const auto stream = openTrack(3000);
    const int64_t length = mixer.lengthFrames(stream);
    mixer.play(stream);
    renderFrames(static_cast<size_t>(length) + 2048);
    EXPECT_EQ(mixer.positionFrames(stream, clockMs + 100.0), length);
    const std::vector<int16_t> after = renderBlock();
    EXPECT_TRUE(std::all_of(after.begin(), after.end(), [](int16_t sample) { return sample == 0; }));
}

TEST_F(MixerTest, LoopingSwitchedOffAfterTheDecoderRestartedStillEndsThere) {
    const auto stream = openTrack(3000);
    const int64_t length = mixer.lengthFrames(stream);
    mixer.setLooping(stream, true);
    mixer.play(stream);
    mixer.decodeAhead();
    mixer.setLooping(stream, false);
    renderFrames(static_cast<size_t>(length) * 2);
    EXPECT_EQ(mixer.positionFrames(stream, clockMs + 100.0), length);
}

TEST_F(MixerTest, PauseHoldsTheMusicWhereItWasHeardAndResumeGoesOn) {
    const auto stream = openTrack(audioRate);
    mixer.play(stream);
    renderBlock();
    const double pausedAt = clockMs - blockMs + 4.0;
    mixer.pauseAll(pausedAt);
    const int64_t held = mixer.positionFrames(stream, pausedAt);
    EXPECT_EQ(held, 176);
    const std::vector<int16_t> silence = renderBlock();
    EXPECT_TRUE(std::all_of(silence.begin(), silence.end(), [](int16_t sample) { return sample == 0; }));
    EXPECT_EQ(mixer.positionFrames(stream, clockMs + 50.0), held);
    EXPECT_EQ(mixer.handedOverFrames(stream), 512);

    mixer.resumeAll();
    EXPECT_EQ(mixer.positionFrames(stream, clockMs), held) << "until the output takes the next block";
    const double resumedAt = clockMs;
    renderBlock();
    EXPECT_EQ(mixer.positionFrames(stream, resumedAt + 5.0), 512 + 220);
}

TEST_F(MixerTest, SongStartOrderLeavesTheMusicSilentAtZeroUntilResumed) {
    const auto stream = openTrack(audioRate);
    mixer.play(stream);
    renderBlock();
    mixer.pauseAll(clockMs);
    mixer.seek(stream, 0);
    renderBlock();
    EXPECT_EQ(mixer.positionFrames(stream, clockMs + 100.0), 0);
    mixer.resumeAll();
    renderBlock();
    EXPECT_EQ(mixer.handedOverFrames(stream), 512);
}

TEST_F(MixerTest, EffectsOverlapAndSaturate) {
    mixer.playEffect(constantEffect(1000, 600));
    mixer.playEffect(constantEffect(2000, 300));
    EXPECT_EQ(mixer.busyEffectChannels(), 2);
    const std::vector<int16_t> block = renderBlock();
    EXPECT_EQ(block[0], 3000);
    EXPECT_EQ(block[299 * 2 + 1], 3000);
    EXPECT_EQ(block[300 * 2], 1000);
    EXPECT_EQ(mixer.busyEffectChannels(), 1);
    renderBlock();
    EXPECT_EQ(mixer.busyEffectChannels(), 0);

    mixer.playEffect(constantEffect(30000, 512));
    mixer.playEffect(constantEffect(30000, 512));
    mixer.playEffect(constantEffect(-30000, 512));
    mixer.playEffect(constantEffect(-30000, 512));
    mixer.playEffect(constantEffect(-30000, 512));
    EXPECT_EQ(renderBlock()[0], -30000);
    mixer.playEffect(constantEffect(30000, 512));
    mixer.playEffect(constantEffect(30000, 512));
    EXPECT_EQ(renderBlock()[0], 32767);
}

TEST_F(MixerTest, AThirtyThirdEffectLeavesTheThirtyTwoAlone) {
    for (int i = 0; i < effectChannelCount; ++i) EXPECT_TRUE(mixer.playEffect(constantEffect(100, 2048)));
    EXPECT_FALSE(mixer.playEffect(constantEffect(5000, 2048)));
    EXPECT_EQ(mixer.busyEffectChannels(), effectChannelCount);
    const std::vector<int16_t> block = renderBlock();
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](int16_t sample) { return sample == 3200; }));
}

TEST_F(MixerTest, PauseHaltsEffectsAndLaterEffectsStillPlay) {
    mixer.playEffect(constantEffect(1000, 1024));
    renderBlock();
    mixer.pauseAll(clockMs);
    mixer.playEffect(constantEffect(7, 512));
    EXPECT_EQ(renderBlock()[0], 7) << "an effect started after pauseAll is not halted";
    mixer.resumeAll();
    const std::vector<int16_t> rest = renderBlock();
    EXPECT_EQ(rest[511 * 2], 1000) << "the halted effect continues where it stopped";
    EXPECT_EQ(mixer.busyEffectChannels(), 0);
}

TEST_F(MixerTest, AnEffectAskedForLaterStartsOnTheFrameThatPlaysThen) {
    const double blockTakenMs = clockMs;
    renderBlock();
    const std::optional<double> heard =
        mixer.playEffectHeardAt(constantEffect(500, 64), blockTakenMs + 100.0, blockTakenMs);
    ASSERT_TRUE(heard.has_value());
    EXPECT_DOUBLE_EQ(*heard, blockTakenMs + 100.0);
    // 100 ms is frame 4410; the first 512 frames went out with the first block.
    const std::vector<int16_t> rest = renderFrames(8192);
    const auto first = std::find_if(rest.begin(), rest.end(), [](int16_t sample) { return sample != 0; });
    EXPECT_EQ((first - rest.begin()) / audioChannels, 4410 - 512);
}

TEST_F(MixerTest, AStoppedEffectIsSilencedAlsoBeforeItStarts) {
    const auto stopped = constantEffect(500, 64);
    mixer.playEffectHeardAt(stopped, clockMs + 100.0, clockMs);
    mixer.playEffect(stopped);
    mixer.playEffect(constantEffect(7, 8192));
    mixer.stopEffect(stopped);
    EXPECT_EQ(mixer.busyEffectChannels(), 1);
    const std::vector<int16_t> heard = renderFrames(8192);
    EXPECT_TRUE(std::all_of(heard.begin(), heard.end(), [](int16_t sample) { return sample == 7; }));
}

TEST_F(MixerTest, BadBytesGiveNoStream) {
    EXPECT_FALSE(mixer.openStream({}));
    const std::string text = "This is not an MP3 file, only a few words of text.\n";
    EXPECT_FALSE(mixer.openStream(std::vector<uint8_t>(text.begin(), text.end())));
    EXPECT_TRUE(decodeWholeMp3({}, audioRate).empty());
    EXPECT_EQ(mixer.positionFrames(nullptr, clockMs), 0);
    EXPECT_EQ(mixer.lengthFrames(nullptr), 0);
    std::vector<uint8_t> noise(20000);
    uint32_t state = 12345;
    for (uint8_t& byte : noise) byte = static_cast<uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
    const auto fromNoise = mixer.openStream(noise);
    if (fromNoise) {
        mixer.play(fromNoise);
        renderFrames(audioRate);
        EXPECT_LE(mixer.positionFrames(fromNoise, clockMs), mixer.lengthFrames(fromNoise));
    }
}

TEST_F(MixerTest, ABrokenStreamEndsWhereItBreaks) {
    std::vector<uint8_t> track = clickTrackMp3(2 * audioRate);
    struct Tdamage {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> holed = track;
    std::fill(holed.begin() + static_cast<long>(holed.size() / 3), holed.begin() + static_cast<long>(holed.size() / 2),
              uint8_t{0});
    const std::vector<uint8_t> announcing = withInflatedFrameCount(cutMidFrame(track, 0.6), 100);
    ASSERT_FALSE(announcing.empty());
    for (const Tdamage& damage : {Tdamage{"truncated", cutMidFrame(track, 0.6)}, Tdamage{"holed", holed},
                                  Tdamage{"announcing more", announcing}}) {
        const auto stream = mixer.openStream(damage.bytes);
        ASSERT_TRUE(stream) << damage.what;
        const size_t decodable = decodeWholeMp3(damage.bytes, 4 * audioRate).size() / audioChannels;
        mixer.play(stream);
        renderFrames(3 * audioRate);
        EXPECT_EQ(mixer.lengthFrames(stream), static_cast<int64_t>(decodable)) << damage.what;
        EXPECT_EQ(mixer.positionFrames(stream, clockMs), mixer.lengthFrames(stream)) << damage.what;
        mixer.seek(stream, 4 * audioRate);
        EXPECT_EQ(mixer.positionFrames(stream, clockMs), mixer.lengthFrames(stream)) << damage.what << ", seeked past";
    }
}

TEST(MillisecondConversion, RoundsToTheNearestMillisecond) {
    EXPECT_EQ(framesToMs(0), 0);
    EXPECT_EQ(framesToMs(22), 0);
    EXPECT_EQ(framesToMs(23), 1);
    EXPECT_EQ(framesToMs(44100), 1000);
    EXPECT_EQ(msToFrames(1000), 44100);
    EXPECT_EQ(msToFrames(5), 221);
    EXPECT_EQ(framesToMs(msToFrames(12345)), 12345);
}

namespace {

// An output whose playing frame the test sets, as a sound server's timing would.
class TfakePlaybackTimer : public TplaybackTimer {
public:
    int64_t playing = 0;
    int64_t playingOutputFrame(double) override { return playing; }
};

// The mixer's clock read through an output that plays later than the mixer renders.
class HeardClockTest : public MixerTest {
protected:
    HeardClockTest() { mixer.setPlaybackTimer(&timer); }
    ~HeardClockTest() override { mixer.setPlaybackTimer(nullptr); }

    int64_t heardAt(const std::shared_ptr<TstreamHandle>& stream, int64_t outputFrame) {
        timer.playing = outputFrame;
        return mixer.positionFrames(stream, clockMs);
    }

    TfakePlaybackTimer timer;
};

}  // namespace

TEST_F(HeardClockTest, TheClockIsTheMusicOfThePlayingFrameNotOfTheLastBlock) {
    const auto stream = openTrack(audioRate);
    mixer.play(stream);
    renderFrames(2048);
    EXPECT_EQ(heardAt(stream, 0), 0);
    EXPECT_EQ(heardAt(stream, 1000), 1000);
    EXPECT_EQ(mixer.writePositionFrames(stream, clockMs), 2048) << "the old clock runs ahead";
    EXPECT_EQ(heardAt(stream, 990), 1000) << "a timer read that steps back is jitter";
}

TEST_F(HeardClockTest, ASeekHoldsAtTheTargetUntilTheOutputPlaysIt) {
    const auto stream = openTrack(audioRate);
    mixer.play(stream);
    renderFrames(2048);
    EXPECT_EQ(heardAt(stream, 1000), 1000);
    mixer.seek(stream, 20000);
    EXPECT_EQ(heardAt(stream, 1000), 20000);
    renderFrames(1024);
    EXPECT_EQ(heardAt(stream, 1500), 20000) << "the frames before the seek are still playing";
    EXPECT_EQ(heardAt(stream, 2100), 20052);
    mixer.seek(stream, 100);
    EXPECT_EQ(heardAt(stream, 2100), 100) << "a seek back is no jitter";
}

TEST_F(HeardClockTest, PauseHoldsWhatWasHeardAndResumeGoesOnFromWhatTheOutputPlays) {
    const auto stream = openTrack(audioRate);
    mixer.play(stream);
    renderFrames(2048);
    timer.playing = 1024;
    mixer.pauseAll(clockMs);
    renderFrames(1024);
    EXPECT_EQ(heardAt(stream, 2500), 1024) << "held while paused, though the output drains";
    mixer.resumeAll();
    renderFrames(512);
    EXPECT_EQ(heardAt(stream, 3000), 2048) << "the output plays the silence rendered while paused";
    EXPECT_EQ(heardAt(stream, 3200), 2048 + 128);
}

TEST_F(HeardClockTest, ALoopRestartIsHeardWhenTheOutputPlaysIt) {
    const auto stream = openTrack(3000);
    ASSERT_EQ(mixer.lengthFrames(stream), 3000);
    mixer.setLooping(stream, true);
    mixer.play(stream);
    renderFrames(4096);
    EXPECT_EQ(mixer.handedOverFrames(stream), 1096);
    EXPECT_EQ(heardAt(stream, 2990), 2990);
    EXPECT_EQ(heardAt(stream, 3010), 10);
    EXPECT_EQ(heardAt(stream, 4000), 1000);
}

TEST_F(HeardClockTest, AStreamChangeKeepsEachStreamOnItsOwnFrames) {
    const auto first = openTrack(audioRate);
    mixer.play(first);
    renderFrames(2048);
    const std::vector<uint8_t> secondBytes = clickTrackMp3(audioRate);
    const auto second = mixer.openStream(secondBytes);
    mixer.play(second);
    renderFrames(1024);
    EXPECT_EQ(heardAt(first, 1000), 1000);
    EXPECT_EQ(heardAt(second, 1000), 0) << "not heard yet";
    EXPECT_EQ(heardAt(first, 2500), 2048) << "stopped where the change cut it";
    EXPECT_EQ(heardAt(second, 2500), 452);
}

TEST_F(HeardClockTest, AnUnderrunThatGrowsTheLatencyStallsTheClockWithoutAStepBack) {
    const auto stream = openTrack(audioRate);
    mixer.play(stream);
    renderFrames(4096);
    EXPECT_EQ(heardAt(stream, 3000), 3000);
    EXPECT_EQ(heardAt(stream, 4096), 4096) << "everything handed over was played";
    renderFrames(2048);
    EXPECT_EQ(heardAt(stream, 4096), 4096) << "the server waits to refill its buffer";
    EXPECT_EQ(heardAt(stream, 4200), 4200);
    EXPECT_EQ(mixer.writePositionFrames(stream, clockMs), 6144);
}

TEST_F(HeardClockTest, AnEffectStartsOnTheFrameHeardAtTheAskedTimeOrTheFirstNotHandedOver) {
    renderFrames(4096);
    timer.playing = 1000;
    // Asked for output frames 4095, 4096 and 4097 of an output that has taken 4096 frames.
    std::vector<std::optional<double>> heard;
    for (const int64_t frame : {4095, 4096, 4097}) {
        const double askedMs = clockMs + static_cast<double>(frame - timer.playing) * 1000.0 / audioRate;
        heard.push_back(mixer.playEffectHeardAt(constantEffect(static_cast<int16_t>(frame - 4090), 1), askedMs, clockMs));
    }
    EXPECT_DOUBLE_EQ(heard[0].value_or(0.0), clockMs + 3096 * 1000.0 / audioRate) << "its frame had gone out";
    EXPECT_DOUBLE_EQ(heard[1].value_or(0.0), clockMs + 3096 * 1000.0 / audioRate);
    EXPECT_DOUBLE_EQ(heard[2].value_or(0.0), clockMs + 3097 * 1000.0 / audioRate);
    const std::vector<int16_t> block = renderBlock();
    EXPECT_EQ(block[0], 5 + 6);
    EXPECT_EQ(block[2], 7);
    EXPECT_EQ(block[4], 0);
}
