// From GO to the end of the song: the fades, the scene order, Escape, the song debug file and
// the end of the music, on exact clock times.
#include <SDL.h>

#include <cmath>
#include <string>
#include <thread>

#include "platform/store/pathResolver.h"
#include "platform/sound/soundEngine.h"
#include "tests/support/testSupport.h"
#include "tests/test_playback_fixture.h"

TEST_F(TplaybackTest, FadeToBlackTakes1500msAndOneFrame) {
    EXPECT_FALSE(fadeToBlack(*game));
    EXPECT_EQ(game->fade.alpha, 0.0L);
    EXPECT_TRUE(game->fade.running);
    clock.ms += 750;
    EXPECT_FALSE(fadeToBlack(*game));
    EXPECT_EQ(game->fade.alpha, 0.5L);
    clock.ms += 749;
    EXPECT_FALSE(fadeToBlack(*game));
    EXPECT_LT(game->fade.alpha, 1.0L);
    clock.ms += 1;
    EXPECT_FALSE(fadeToBlack(*game));
    EXPECT_EQ(game->fade.alpha, 1.0L);
    EXPECT_TRUE(fadeToBlack(*game));
    EXPECT_EQ(game->fade.alpha, 0.0L);
    EXPECT_FALSE(game->fade.running);
}

TEST_F(TplaybackTest, FadeFromBlackRunsTheOtherWay) {
    EXPECT_FALSE(fadeFromBlack(*game));
    EXPECT_EQ(game->fade.alpha, 1.0L);
    clock.ms += 750;
    EXPECT_FALSE(fadeFromBlack(*game));
    EXPECT_EQ(game->fade.alpha, 0.5L);
    clock.ms += 750;
    EXPECT_FALSE(fadeFromBlack(*game));
    EXPECT_EQ(game->fade.alpha, 0.0L);
    EXPECT_TRUE(fadeFromBlack(*game));
    EXPECT_FALSE(game->fade.running);
}

TEST_F(TplaybackTest, FadeSurvivesTheClockWrapping) {
    clock.ms = 0xFFFFFF00u;
    fadeToBlack(*game);
    clock.ms += 750;  // wraps past zero
    fadeToBlack(*game);
    EXPECT_EQ(game->fade.alpha, 0.5L);
}

TEST_F(TplaybackTest, SongStartFadeLeadsToReadyThenPlay) {
    addRow(1.0, {0}, 90.0);
    addRow(2.0, {1});
    game->play.shutterBob = 3.0;
    startSong(*game);
    const uint32_t fadeStart = clock.ms;
    songStartScene.draw(*game);
    clock.ms = fadeStart + 1500;
    songStartScene.draw(*game);
    EXPECT_EQ(game->readyStart, 0u);
    // The fade completes on the frame after it reached black; that frame puts the ready scene in.
    clock.ms += 1;
    songStartScene.draw(*game);
    EXPECT_EQ(game->readyStart, clock.ms);
    EXPECT_DOUBLE_EQ(game->play.tempo, 90.0);
    EXPECT_EQ(game->play.shutterBob, 0.0);

    clock.ms = game->readyStart + 2500;
    readyScene.draw(*game);
    EXPECT_FALSE(stillPlaying());
    clock.ms += 1;
    readyScene.draw(*game);
    EXPECT_TRUE(stillPlaying());
    EXPECT_EQ(game->play.nextEntry, 0u);
    EXPECT_FALSE(game->play.musicStarted);
}

TEST_F(TplaybackTest, StartPlayClearsMarkersButKeepsHeldKeys) {
    addRow(1.0, {0});
    addRow(1.5, {2});
    startPlaying();
    tickAt(500);
    releaseKey('6');
    pressKey('6');
    EXPECT_EQ(stateOf(0), approach);
    game->score.apply(perfect);
    startPlay(*game);
    for (int panel = 0; panel < 16; ++panel) {
        EXPECT_EQ(stateOf(panel), idle);
        EXPECT_EQ(game->play.perfectTime[panel], 0.0);
        EXPECT_EQ(game->play.stateEnd[panel], 0.0);
    }
    EXPECT_EQ(game->play.pressed[transposeIndex(2)], 1);
    EXPECT_EQ(game->score.displayScore(), 0);
    EXPECT_EQ(game->score.noteCount, 2);
}

TEST_F(TplaybackTest, EscapeInSongStartReturnsToSongSelect) {
    addRow(1.0, {0});
    addRow(2.0, {1});
    startSong(*game);
    songStartScene.draw(*game);
    EXPECT_FALSE(pressKey(keyEscape));
    EXPECT_EQ(game->score.noteCount, 1);
    EXPECT_FALSE(game->fade.running);
    EXPECT_TRUE(backInSongSelect());
}

TEST_F(TplaybackTest, EscapeInReadyReturnsToSongSelect) {
    addRow(1.0, {0});
    addRow(2.0, {1});
    installScene(*game, readyScene);
    game->readyStart = clock.ms;
    EXPECT_FALSE(pressKey(keyEscape));
    EXPECT_TRUE(backInSongSelect());
}

TEST_F(TplaybackTest, EscapeInPlayEndsTheSong) {
    addRow(1.0, {0});
    addRow(2.0, {1});
    startPlaying();
    tickAt(500);
    clock.highResolution = game->play.perfectTime[0];
    pressKey('4');
    EXPECT_GT(game->score.displayScore(), 0);
    EXPECT_FALSE(pressKey(keyEscape));
    EXPECT_EQ(game->score.displayScore(), 0);
    EXPECT_EQ(game->score.gauge, 0.0);
    EXPECT_TRUE(backInSongSelect());
}

// Presses queued in play behind the Escape that ended it (no results between) must not scroll,
// start a song or end the run in song select: only presses made after it came count there.
TEST_F(TplaybackTest, PressesMadeInPlayNeverReachSongSelectAfterEscape) {
    addRow(1.0, {0});
    addRow(2.0, {1});
    startPlaying();
    tickAt(500);
    const double escapedAt = clock.highResolution;
    EXPECT_FALSE(pressKey(keyEscape));
    const auto scrollLeft = static_cast<uint16_t>(game->launch.keys[12]);
    const int32_t scroll = game->menu.wheelScroll;
    clock.highResolution = escapedAt + 5.0;
    EXPECT_FALSE(pressKeyAt(scrollLeft, escapedAt - 1.0));
    EXPECT_EQ(game->menu.wheelScroll, scroll);
    EXPECT_FALSE(pressKeyAt(keyEscape, escapedAt - 1.0)) << "a double Escape in play ended the run";
    EXPECT_TRUE(pressKeyAt(keyEscape, escapedAt));
    EXPECT_TRUE(pressKeyAt(keyEscape, escapedAt + 1.0));
    pressKeyAt(scrollLeft, escapedAt + 1.0);
    EXPECT_NE(game->menu.wheelScroll, scroll);
}

TEST_F(TplaybackTest, SongEndsWhenTheMusicEndsNotAtTheLastRow) {
    addRow(1.0, {0});
    addRow(2.0, {1});
    startPlaying(10000);
    tickAt(500);
    tickAt(1500);
    EXPECT_EQ(game->play.nextEntry, 2u);
    tickAt(5000);
    tickAt(9999);
    EXPECT_TRUE(stillPlaying());
    tickAt(10000);
    EXPECT_FALSE(stillPlaying());
    EXPECT_TRUE(resultsLeadToSongSelect());
}

// The end is read from the music on every tick: a stream that finds while it plays that it holds
// less than its index announced, or learns its length only at its end, still ends the song.
TEST_F(TplaybackTest, SongEndsAtTheMusicEndKnownNowNotAtTheLengthKnownAtTheStart) {
    addRow(1.0, {0, 1});
    startPlaying(10000);
    tickAt(6000);
    EXPECT_TRUE(stillPlaying());
    clock.musicLength = 6000;
    tickAt(6000);
    EXPECT_FALSE(stillPlaying());
    EXPECT_TRUE(resultsLeadToSongSelect());
}

// Autoplay on a clock far ahead of the system's, so its presses stay scheduled while the test runs.
class TautoplayTest : public TplaybackTest {
protected:
    void SetUp() override {
        TplaybackTest::SetUp();
        clock.highResolution = 1e12;
        game->autoplay = std::make_unique<TkeyPusher>();
        addRow(10.0, {0, 1});
        addRow(20.0, {2});
        startPlaying(30000);
        tickAt(9450);
        ASSERT_EQ(game->autoplay->pending().size(), 4u);
        ASSERT_FALSE(pressKey('5'));  // as if autoplay's first key-down had come, its key-up not yet
    }
};

TEST_F(TautoplayTest, PressesEachMarkersKeyAtItsPerfectTime) {
    const double perfectTime = clock.highResolution + 500;  // when the music is at 9950
    EXPECT_DOUBLE_EQ(game->play.perfectTime[transposeIndex(0)], perfectTime);
    const uint16_t first = static_cast<uint16_t>(game->launch.keys[0]);
    const uint16_t second = static_cast<uint16_t>(game->launch.keys[1]);
    const std::vector<TkeyPusher::Tpending> pending = game->autoplay->pending();
    ASSERT_EQ(pending.size(), 4u);
    const TkeyPusher::Tpending expected[] = {{perfectTime, first, true},
                                             {perfectTime, second, true},
                                             {perfectTime + 40, first, false},
                                             {perfectTime + 40, second, false}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(pending[i].atMs, expected[i].atMs) << i;
        EXPECT_EQ(pending[i].virtualKey, expected[i].virtualKey) << i;
        EXPECT_EQ(pending[i].down, expected[i].down) << i;
    }
}

TEST_F(TplaybackTest, AutoplayPressesOnTheBeatAsHeardUnderAnAudioOffset) {
    clock.highResolution = 1e12;
    game->autoplay = std::make_unique<TkeyPusher>();
    game->launch.audioOffset = 60;
    addRow(10.0, {1});
    startPlaying(30000);
    tickAt(9509);
    EXPECT_TRUE(game->autoplay->pending().empty());
    tickAt(9510);
    const std::vector<TkeyPusher::Tpending> pending = game->autoplay->pending();
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_DOUBLE_EQ(pending[0].atMs, clock.highResolution + 500);  // the music at 9950 + 60
    clock.highResolution = pending[0].atMs;
    pressKeyAt(pending[0].virtualKey, pending[0].atMs);
    ASSERT_EQ(game->play.presses.size(), 1u);
    EXPECT_EQ(game->play.presses[0].judgement, perfect);
    EXPECT_DOUBLE_EQ(game->play.presses[0].offsetMs, 0.0);
}

// Autoplay's keys can reach the game late on a busy machine; that says nothing of how the player
// hears the music, so its results offer no offset to take.
TEST_F(TautoplayTest, ItsResultsOfferNoOffsetAndThePlayersOffsetStays) {
    game->launch.audioOffset = 25;
    clock.highResolution = game->play.perfectTime[transposeIndex(0)] + 60;
    pressKey('4');
    ASSERT_EQ(game->play.presses.size(), 1u);
    tickAt(30000);
    ASSERT_TRUE(game->results.shown);
    EXPECT_EQ(game->results.suggestion, 0);
    clock.highResolution += 1000.0;
    pressKey(static_cast<uint16_t>(game->launch.keys[suggestionKeyNumber - 1]));
    EXPECT_EQ(game->launch.audioOffset, 25);
}

TEST_F(TautoplayTest, EscapeCancelsEveryScheduledPressAndReleasesTheKeys) {
    EXPECT_FALSE(pressKey(keyEscape));
    EXPECT_EQ(game->autoplay->pending().size(), 0u);
    EXPECT_EQ(game->play.pressed[transposeIndex(1)], 0);
}

TEST_F(TautoplayTest, TheEndOfTheMusicCancelsEveryScheduledPress) {
    tickAt(30000);
    EXPECT_FALSE(stillPlaying());
    EXPECT_EQ(game->autoplay->pending().size(), 0u);
}

TEST(AutoplayCancel, TakesItsPushedKeysBackOutOfTheQueueAndLeavesThePlayersKeys) {
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0);
    SDL_Event player{};
    player.type = SDL_KEYDOWN;
    player.key.keysym.sym = SDLK_a;
    player.key.keysym.scancode = SDL_SCANCODE_A;
    SDL_PushEvent(&player);
    {
        TkeyPusher pusher;
        pusher.schedulePress(systemHighResolutionMs() - 1000.0, '5', 0.0);
        // Already due: wait for the worker to hand both events to SDL's queue.
        while (!pusher.pending().empty()) std::this_thread::yield();
        pusher.cancelAll();
    }
    SDL_Event left[4];
    const int count = SDL_PeepEvents(left, 4, SDL_GETEVENT, SDL_KEYDOWN, SDL_KEYUP);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(left[0].key.keysym.sym, SDLK_a);
    SDL_QuitSubSystem(SDL_INIT_EVENTS);
}

TEST_F(TplaybackTest, MissingMusicEndsTheSongOnTheFirstTick) {
    addRow(1.0, {0});
    addRow(2.0, {1});
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    Tsounds sounds;
    Tstream music;
    game->audio.sounds = &sounds;
    game->audio.music = &music;
    installScene(*game, readyScene);
    game->readyStart = clock.ms - 2501;
    startPlay(*game);
    EXPECT_TRUE(stillPlaying());
    playTickHandler(*game);
    EXPECT_FALSE(stillPlaying());
    EXPECT_TRUE(resultsLeadToSongSelect());
    game->audio = TgameSounds{};
}

TEST_F(TplaybackTest, SongDebugFileGetsOneDifferenceLinePerRowAndIsClosedAtTheEnd) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    writeFile(folder.file("songDebug.txt"), "Readin finished; continuing with play...\r\n");
    game->launch.songDebug = true;
    addRow(10.0, {0});
    addRow(11.0, {1});
    addRow(12.0, {2});
    startSong(*game);
    ASSERT_NE(game->launch.songDebugFile, nullptr);
    startPlaying(20000);
    tickAt(9450);
    tickAt(10453);
    tickAt(11460);
    tickAt(20000);
    EXPECT_EQ(game->launch.songDebugFile, nullptr);
    EXPECT_EQ(readFile(folder.file("songDebug.txt")),
              "Readin finished; continuing with play...\r\n"
              "Difference: -50\r\nDifference: -47\r\nDifference: -40\r\n");
}

TEST_F(TplaybackTest, NoSongDebugFileWhenSongDebugIsOff) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    addRow(1.0, {0});
    addRow(2.0, {1});
    startSong(*game);
    startPlaying(5000);
    tickAt(500);
    tickAt(5000);
    EXPECT_FALSE(pathExists(folder.file("songDebug.txt")));
}

TEST_F(TplaybackTest, ShuttersBobWithTheTempoOnlyWhileTheGaugeIsPartFull) {
    game->readyStart = clock.ms - 1000;
    game->play.tempo = 120.0;
    updateShutterBob(*game, 50000);
    const double target = std::fabs(std::sin(1000.0 / (20000.0 / 120.0))) / 8.0;
    EXPECT_DOUBLE_EQ(game->play.shutterBob, target);
    EXPECT_DOUBLE_EQ(game->play.shutterBobEased, target / 2.0);
    updateShutterBob(*game, 50000);
    EXPECT_DOUBLE_EQ(game->play.shutterBobEased, target * 3.0 / 4.0);
    for (int32_t level : {0, 100000}) {
        updateShutterBob(*game, level);
        EXPECT_EQ(game->play.shutterBob, 0.0) << level;
    }
    game->play.tempo = 0.0;
    updateShutterBob(*game, 50000);
    EXPECT_EQ(game->play.shutterBob, 0.0);
}
