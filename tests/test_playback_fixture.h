// A game record ready for play without a window, on a clock the test sets by hand.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>

#include "engine/trellikGL38Engine.h"
#include "platform/clockSeam.h"

class TplaybackTest : public ::testing::Test {
protected:
    TmanualClock clock;
    std::unique_ptr<TtrellikGL> game = std::make_unique<TtrellikGL>();

    void SetUp() override {
        clock.ms = 100000;
        clock.highResolution = 500000.0;
        // Music opened for play stands at its start; a test that plays again starts from there too.
        clock.musicPosition = 0;
        installClock(&clock);
        game->window = std::make_unique<TopenGLEngine>();
        const LaunchParameters parameters = defaultLaunchParameters("test");
        for (int i = 0; i < 16; ++i) game->launch.keys[i] = parameters.keys[i];
    }

    void TearDown() override { installClock(nullptr); }

    // Appends a chart row with markers at the given key indices.
    void addRow(double seconds, std::initializer_list<int> keyIndices, double bpm = 120.0) {
        TsongParser& chart = game->chart;
        ChartEntry& entry = chart.entries[chart.entryCount++];
        entry.time = seconds;
        entry.bpm = bpm;
        for (int keyIndex : keyIndices) {
            entry.panels[keyIndex] = 1;
            chart.markerCount += 1;
        }
    }

    // Play started as the ready scene would, with music of the given length that has begun.
    void startPlaying(int32_t musicLength = 60000) {
        installScene(*game, readyScene);
        game->readyStart = clock.ms - 2501;
        clock.musicLength = musicLength;
        startPlay(*game);
        playTickHandler(*game);
        ASSERT_TRUE(game->play.musicStarted);
    }

    // One tick with the music at the given position.
    void tickAt(int32_t musicPosition) {
        clock.musicPosition = musicPosition;
        playTickHandler(*game);
    }

    // Moves the high-resolution clock to a time and lets a frame advance the panels.
    void frameAt(double highResolution) {
        clock.highResolution = highResolution;
        advancePanels(*game, highResolution);
    }

    // A key handled now that went down at the clock's time, or at atMs.
    bool pressKey(uint16_t key) { return pressKeyAt(key, clock.highResolution); }
    bool pressKeyAt(uint16_t key, double atMs) { return game->window->onKeyDown(key, atMs); }
    bool releaseKey(uint16_t key) { return game->window->onKeyUp(key, clock.highResolution); }

    uint8_t stateOf(int panel) const { return game->play.panelState[panel]; }

    // True when song select holds the keys: its handler ends the run on Escape, where play's
    // handler would end the song instead (so this is a final check).
    bool backInSongSelect() const { return game->window->onKeyDown(keyEscape, clock.highResolution); }

    // Still playing: the score holds the chart's marker count, which the end of a song resets to 1.
    bool stillPlaying() const { return game->score.noteCount == game->chart.markerCount && !game->results.shown; }
    // The music ended into the results scene, and Enter leaves it for song select.
    bool resultsLeadToSongSelect() {
        if (!game->results.shown) return false;
        pressKey(keyEnter);
        return !game->results.shown && backInSongSelect();
    }
};
