// Song select and marker select drawn into real frames: the wheel and its ring copies, the
// borders tinted by the difficulty, the buttons, the big jacket, and the skin previews.
#include "tests/test_title_window.h"

namespace {

const Tcolour songColours[5] = {{200, 40, 40}, {40, 200, 40}, {40, 40, 200}, {200, 200, 40}, {200, 40, 200}};
const Tcolour skinColours[2] = {{250, 160, 0}, {0, 160, 250}};
const Tcolour menuClearColour = {0, 0, 38};
const Tcolour white = {255, 255, 255};
const Tcolour red = {255, 0, 0};
const Tcolour green = {0, 255, 0};

constexpr double pitch = 1.4;

Tcolour dimmed(const Tcolour& colour) {
    return {static_cast<int>(colour[0] * 0.15 + 0.5), static_cast<int>(colour[1] * 0.15 + 0.5),
            static_cast<int>(colour[2] * 0.15 + 0.5)};
}

class TmenuWindow : public TgameWindowTest {
protected:
    void SetUp() override {
        TgameWindowTest::SetUp();
        for (int song = 0; song < 5; ++song)
            writeSong(folder.path(), "song" + std::to_string(song), "2", &songColours[song]);
        writeSkin(folder.path(), "first", skinColours[0]);
        writeSkin(folder.path(), "second", skinColours[1]);
    }

    // Loads, then skips the logo with Enter.
    void enterSongSelect() {
        const TnullArgsFunctionReturningBoolean loading = game->window->onDraw;
        loading();
        frame();
        clock.ms += 1501;
        frame();
        frame();
        press(keyEnter);
        frame();
    }

    // Centre of the wheel slot at column and row, on the panel grid.
    double slotX(int column) const { return column * pitch - 1.5 * pitch; }
    double slotY(int row) const { return 1.5 * pitch + game->yOffset - row * pitch; }
    Tcolour jacketAt(int column, int row) const { return pixelAtEngineDepth(slotX(column) - 0.01, slotY(row) - 0.03); }
    // A point on the left side of a jacket's border.
    Tcolour borderAt(int column, int row, double edge) const {
        return pixelAtEngineDepth(slotX(column) - 0.46 * edge, slotY(row));
    }
    Tcolour buttonAt(int column) const { return pixelAtEngineDepth(slotX(column), slotY(3)); }
};

}  // namespace

TEST_F(TmenuWindow, SongSelectShowsTheRingTheButtonsAndTheSelectedJacket) {
    runGame([this] {
        enterSongSelect();
        saveScreenshot("song-select");
        // Five songs make a ring of two columns; the copy one ring to the right shows them again.
        for (int song = 0; song < 5; ++song) {
            EXPECT_COLOUR(jacketAt(song / 3, song % 3), songColours[song]) << song;
            EXPECT_COLOUR(jacketAt(song / 3 + 2, song % 3), songColours[song]) << song;
        }
        EXPECT_COLOUR(jacketAt(1, 2), menuClearColour);
        EXPECT_COLOUR(jacketAt(3, 2), menuClearColour);
        EXPECT_COLOUR(borderAt(0, 0, 1.2), white);  // the glow covers the selected jacket's border
        EXPECT_COLOUR(borderAt(0, 1, 1.0), red);
        EXPECT_COLOUR(buttonAt(0), stockColour("gfx/leftArrow.tga"));
        EXPECT_COLOUR(buttonAt(1), stockColour("gfx/rightArrow.tga"));
        EXPECT_COLOUR(buttonAt(2), stockColour("gfx/markerButton.tga"));
        EXPECT_COLOUR(buttonAt(3), stockColour("gfx/goButton.tga"));
        EXPECT_COLOUR(pixelAtEngineDepth(-1.8, game->yOffset + 4.0), songColours[0]);

        press('4');  // the selected jacket again: difficulty 0, green borders
        press('T');  // song 4
        frame();
        saveScreenshot("song-select-song4-basic");
        EXPECT_COLOUR(borderAt(0, 1, 1.0), green);
        EXPECT_COLOUR(borderAt(1, 1, 1.2), white);
        EXPECT_COLOUR(pixelAtEngineDepth(-1.8, game->yOffset + 4.0), songColours[4]);

        press('B');  // one column right: once eased, the ring copy on the left comes in
        for (int tick = 0; tick < 400; ++tick) easeWheel(*game);
        frame();
        saveScreenshot("song-select-scrolled");
        EXPECT_COLOUR(jacketAt(0, 0), songColours[3]);
        EXPECT_COLOUR(jacketAt(1, 0), songColours[0]);
        EXPECT_COLOUR(jacketAt(0, 2), menuClearColour);
    });
}

TEST_F(TmenuWindow, MarkerSelectDimsTheWheelAndShowsTheSkinPreviews) {
    runGame([this] {
        enterSongSelect();
        press('N');
        frame();
        saveScreenshot("marker-select");
        EXPECT_COLOUR(pixelAtEngineDepth(slotX(0), slotY(0)), skinColours[0]);
        EXPECT_COLOUR(pixelAtEngineDepth(slotX(0), slotY(1)), skinColours[1]);
        EXPECT_COLOUR(jacketAt(0, 2), dimmed(songColours[2]));
        EXPECT_COLOUR(buttonAt(2), stockColour("gfx/backButton.tga"));
        EXPECT_COLOUR(buttonAt(0), dimmed(stockColour("gfx/leftArrow.tga")));
        // The selected preview is larger: only it reaches this far from its centre.
        EXPECT_COLOUR(pixelAtEngineDepth(slotX(0) + 0.55, slotY(0)), skinColours[0]);
        EXPECT_FALSE(closeTo(pixelAtEngineDepth(slotX(0) + 0.55, slotY(1)), skinColours[1]));

        press('R');
        frame();
        EXPECT_COLOUR(pixelAtEngineDepth(slotX(0) + 0.55, slotY(1)), skinColours[1]);
        EXPECT_EQ(game->menu.selectedMarker, 1);
        press(keyEscape);
        frame();
        EXPECT_COLOUR(jacketAt(0, 2), songColours[2]);
    });
}

TEST_F(TmenuWindow, ASongOfAGroupShowsItsGroupAndNameWhenSelected) {
    writeSong(folder.path(), "Album/tune", "2", &songColours[0]);
    // White glyph pixels in the two console lines above the best score.
    const auto whiteInGroupLines = [this] {
        int count = 0;
        for (double y = 12.6; y <= 16.0; y += 0.1)
            for (double column = 33.0; column <= 45.0; column += 0.1)
                if (pixelAt(-40.0 + 1.25 * column, 8.0 + 1.25 * (y - 0.75), -100.0) == white) ++count;
        return count;
    };
    runGame([&] {
        enterSongSelect();
        EXPECT_EQ(whiteInGroupLines(), 0);
        press('G');  // the sixth song: column 1, row 2
        frame();
        saveScreenshot("song-select-group");
        EXPECT_EQ(getSongName(game->songs, game->menu.selectedSong), "Album\\tune");
        EXPECT_GT(whiteInGroupLines(), 20);
    });
}

TEST_F(TmenuWindow, TheWheelShowsOnlyTheSongsFound) {
    runGame([this] {
        enterSongSelect();
        press(slashKey);
        press('3');
        frame();
        saveScreenshot("song-select-searched");
        // One song found: a ring of one column, its copies side by side, the other rows empty.
        for (int column = 0; column < 4; ++column) {
            EXPECT_COLOUR(jacketAt(column, 0), songColours[3]) << column;
            EXPECT_COLOUR(jacketAt(column, 1), menuClearColour) << column;
        }
        EXPECT_EQ(game->menu.selectedSong, 3);
        press(keyEscape);  // every song again, the wheel turned to the selected one
        frame();
        EXPECT_COLOUR(jacketAt(0, 0), songColours[3]);
        EXPECT_COLOUR(jacketAt(0, 1), songColours[4]);
    });
}
