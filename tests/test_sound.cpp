// Tsounds, Tstream and Tsfx on the silent clocked output, as the game uses them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "platform/sound/audioEngine.h"
#include "platform/sound/audioMixer.h"
#include "platform/clockSeam.h"
#include "platform/store/pathResolver.h"
#include "platform/sound/soundEngine.h"
#include "tests/support/testSupport.h"
#include "tests/test_sound_fixtures.h"

namespace {

// Waits while the output plays; reaching the bound means playback is broken.
bool waitForPlayback(const std::function<bool()>& done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Lets the output take a few more blocks.
bool waitForBlocks(size_t count) {
    programMixer().startBlockLog(count);
    const bool taken = waitForPlayback([count] { return programMixer().loggedBlockCount() >= count; });
    programMixer().takeBlockLog();
    return taken;
}

class SoundTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("TRELLIK_AUDIO", "silent", 1);
        static Tsounds sounds;
        soundSystem = &sounds;
        ASSERT_TRUE(programOutputIsSilent());
    }

    void SetUp() override {
        createFolders(folder.file("snd"));
        writeMp3File(folder.file("snd/click.mp3"), clickTrack(audioRate, audioRate, 2), audioRate, 2, 128);
        writeMp3File(folder.file("snd/short.mp3"), clickTrack(audioRate / 5, audioRate, 2), audioRate, 2, 128);
        writeMp3File(folder.file("snd/blip.mp3"), clickTrack(4410, 22050, 1), 22050, 1, 64);
    }

    void TearDown() override { soundSystem->resumeAll(); }

    static Tsounds* soundSystem;
    TtemporaryFolder folder;
};

Tsounds* SoundTest::soundSystem = nullptr;

}  // namespace

TEST_F(SoundTest, AStreamThatNeverOpenedIsFinishedAndStill) {
    Tstream stream;
    EXPECT_TRUE(stream.isFinished());
    EXPECT_EQ(stream.positionMS(), 0);
    EXPECT_EQ(stream.lengthMS(), 0);
    stream.play();
    stream.stop();
    stream.setPositionMS(500);
    EXPECT_EQ(stream.positionMS(), 0);
}

TEST_F(SoundTest, LoopingBeforeAnyOpenOnlyStoresTheFlag) {
    Tstream stream;
    EXPECT_FALSE(stream.looping());
    stream.setLooping(true);
    EXPECT_TRUE(stream.looping());
    EXPECT_TRUE(stream.isFinished());
}

TEST_F(SoundTest, FilesThatCannotBeOpenedLeaveNoStream) {
    TworkingDirectory inside(folder.path());
    writeFile("empty.mp3", "");
    writeFile("words.mp3", "not an mp3 at all");
    Tstream stream;
    ASSERT_TRUE(stream.open("snd\\click.mp3"));
    for (const char* name : {"missing.mp3", "empty.mp3", "words.mp3", "snd"}) {
        EXPECT_EQ(stream.open(name), nullptr) << name;
        stream.play();
        EXPECT_TRUE(stream.isFinished()) << name;
        EXPECT_EQ(stream.lengthMS(), 0) << name;
        EXPECT_EQ(activeClock().musicPositionMs(), 0) << name;
    }
}

TEST_F(SoundTest, TheStreamPlaysOnTheSilentClockAndFeedsTheMusicClock) {
    TworkingDirectory inside(folder.path());
    Tstream stream;
    stream.stop();
    ASSERT_NE(stream.open("SND\\Click.MP3"), nullptr);
    EXPECT_EQ(stream.lengthMS(), 1000);
    stream.play();
    ASSERT_TRUE(waitForPlayback([&] { return stream.positionMS() >= 50; }));

    soundSystem->pauseAll();
    const int32_t held = stream.positionMS();
    EXPECT_EQ(activeClock().musicPositionMs(), held);
    ASSERT_TRUE(waitForBlocks(3));
    EXPECT_EQ(stream.positionMS(), held);
    EXPECT_FALSE(stream.isFinished());

    soundSystem->resumeAll();
    ASSERT_TRUE(waitForPlayback([&] { return stream.positionMS() > held + 20; }));
    ASSERT_TRUE(waitForPlayback([&] { return stream.isFinished(); }));
    EXPECT_EQ(stream.positionMS(), stream.lengthMS());
}

// Songs that hold less than their index or header announce end on the music clock, played
// through or seeked past their end.
TEST_F(SoundTest, DamagedSongsEndOnTheMusicClock) {
    TworkingDirectory inside(folder.path());
    const std::vector<uint8_t> song = cutMidFrame(clickTrackMp3(audioRate / 2), 0.6);
    const std::vector<uint8_t> announcing = withInflatedFrameCount(song, 100);
    ASSERT_FALSE(announcing.empty());
    writeFile("cut.mp3", std::string(song.begin(), song.end()));
    writeFile("announcing.mp3", std::string(announcing.begin(), announcing.end()));
    const auto musicHasEnded = [] { return activeClock().musicPositionMs() >= activeClock().musicLengthMs(); };
    for (const char* name : {"cut.mp3", "announcing.mp3"}) {
        Tstream stream;
        ASSERT_NE(stream.open(name), nullptr) << name;
        EXPECT_FALSE(musicHasEnded()) << name;
        stream.play();
        ASSERT_TRUE(waitForPlayback(musicHasEnded)) << name;
        EXPECT_EQ(activeClock().musicLengthMs(), framesToMs(decodeWholeMp3(song, audioRate).size() / audioChannels))
            << name;

        stream.setPositionMS(100);
        EXPECT_FALSE(musicHasEnded()) << name;
        stream.setPositionMS(stream.lengthMS() + 5000);
        EXPECT_TRUE(musicHasEnded()) << name << ", seeked past the end";
    }
}

TEST_F(SoundTest, SongStartOrderHoldsTheSongAtZeroUntilResumed) {
    TworkingDirectory inside(folder.path());
    Tstream stream;
    stream.stop();
    ASSERT_NE(stream.open("snd/click.mp3"), nullptr);
    stream.play();
    soundSystem->pauseAll();
    stream.setPositionMS(0);
    ASSERT_TRUE(waitForBlocks(3));
    EXPECT_EQ(stream.positionMS(), 0);
    soundSystem->resumeAll();
    ASSERT_TRUE(waitForPlayback([&] { return stream.positionMS() > 0; }));
}

TEST_F(SoundTest, SeekMovesThePositionThere) {
    TworkingDirectory inside(folder.path());
    Tstream stream;
    ASSERT_NE(stream.open("snd/click.mp3"), nullptr);
    stream.setPositionMS(500);
    EXPECT_EQ(stream.positionMS(), 500);
    stream.setPositionMS(0);
    EXPECT_EQ(stream.positionMS(), 0);
    stream.setPositionMS(-20);
    EXPECT_EQ(stream.positionMS(), 0);
}

TEST_F(SoundTest, ALoopingStreamStartsOverAndANewOpenDoesNotLoop) {
    TworkingDirectory inside(folder.path());
    Tstream stream;
    ASSERT_NE(stream.open("snd/short.mp3"), nullptr);
    stream.play();
    stream.setLooping(true);
    int32_t highest = 0;
    ASSERT_TRUE(waitForPlayback([&] {
        const int32_t position = stream.positionMS();
        highest = std::max(highest, position);
        return highest > 100 && position < 50;
    }));
    EXPECT_FALSE(stream.isFinished());

    // A song opened after a looping preview still ends, though the flag stays as it was set.
    ASSERT_NE(stream.open("snd/short.mp3"), nullptr);
    EXPECT_TRUE(stream.looping());
    stream.play();
    EXPECT_TRUE(waitForPlayback([&] { return stream.isFinished(); }));
}

TEST_F(SoundTest, EffectsLoadWholeAndOverlap) {
    TworkingDirectory inside(folder.path());
    Tsfx effect;
    ASSERT_NE(effect.load("snd\\BLIP.mp3"), nullptr);
    EXPECT_NEAR(effect.length(), 8820, 1152);
    const int32_t busyBefore = programMixer().busyEffectChannels();
    effect.play();
    effect.play();
    EXPECT_EQ(programMixer().busyEffectChannels(), busyBefore + 2);
    EXPECT_TRUE(waitForPlayback([] { return programMixer().busyEffectChannels() == 0; }));

    Tsfx missing;
    EXPECT_EQ(missing.load("snd/none.mp3"), nullptr);
    EXPECT_EQ(missing.length(), 0);
    missing.play();
}
