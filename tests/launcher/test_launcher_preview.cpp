// The board preview of the extra settings window, pixel by pixel, and the window's controls.
#include <gtest/gtest.h>

#include <cmath>

#include "launcher/boardPreview.h"
#include "launcher/extraSettingsFormCode.h"
#include "platform/sound/audioEngine.h"

namespace {

struct Trect {
    int left, top, right, bottom;
};

bool onOutline(const Trect& r, int x, int y) {
    if (r.right <= r.left || r.bottom <= r.top) return false;
    if (x < r.left || x >= r.right || y < r.top || y >= r.bottom) return false;
    return x == r.left || x == r.right - 1 || y == r.top || y == r.bottom - 1;
}

bool inside(const Trect& r, int x, int y) {
    return x > r.left && x < r.right - 1 && y > r.top && y < r.bottom - 1;
}

// The expected picture, decided pixel by pixel from the written steps: the marker is drawn last,
// so its outline is ink and its inside is background whatever lay there.
std::vector<uint8_t> expectedPicture(int p, int v, int rotation) {
    const int W = 323, H = 177, max = 100;
    const int cx = static_cast<int>(std::nearbyint(W / 2.0)), cy = static_cast<int>(std::nearbyint(H / 2.0));
    const int o = static_cast<int>(std::floor(v * (H / 30.0)));
    int dx = 0, dy = 0;
    if (rotation == 0) dy = o;
    if (rotation == 180) dy = -o;
    if (rotation == 90) dx = o;
    if (rotation == 270) dx = -o;
    const double d = double(max - p) / max;
    const int S = static_cast<int>(std::floor((0.9 * d + 0.1) * H)) - 1;
    const int h = static_cast<int>(std::nearbyint(S / 2.0)), q = static_cast<int>(std::nearbyint(S / 4.0));
    const Trect board{cx - h + dx, cy - h + dy, cx + h + dx, cy + h + dy};
    const int g = static_cast<int>(std::nearbyint(10 * d)), b = static_cast<int>(std::nearbyint(52 * d));
    Trect marker{board.left, board.top - g - b, board.right, board.top - g};
    if (rotation == 180) marker = {board.left, board.bottom + g, board.right, board.bottom + g + b};
    if (rotation == 90) marker = {board.left - g - b, board.top, board.left - g, board.bottom};
    if (rotation == 270) marker = {board.right + g, board.top, board.right + g + b, board.bottom};

    std::vector<uint8_t> picture(static_cast<size_t>(W) * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            bool ink = onOutline(board, x, y);
            for (int k = -1; k <= 1; ++k) {
                const int lineX = cx + dx + q * k, lineY = cy + dy + q * k;
                ink = ink || (x == lineX && y <= board.bottom - 1 && y > board.top);
                ink = ink || (y == lineY && x <= board.right - 1 && x > board.left);
            }
            if (inside(marker, x, y)) ink = false;
            if (onOutline(marker, x, y)) ink = true;
            picture[static_cast<size_t>(y) * W + x] = ink;
        }
    return picture;
}

void expectSamePicture(int p, int v, int rotation) {
    const TboardPreview drawn = drawBoardPreview(323, 177, p, 100, v, rotation);
    const std::vector<uint8_t> expected = expectedPicture(p, v, rotation);
    ASSERT_EQ(drawn.ink.size(), expected.size());
    size_t differences = 0;
    for (size_t i = 0; i < expected.size(); ++i) differences += (drawn.ink[i] != 0) != (expected[i] != 0);
    EXPECT_EQ(differences, 0u) << "p " << p << " v " << v << " rotation " << rotation;
}

int firstInkColumn(const TboardPreview& preview, int y) {
    for (int x = 0; x < preview.width; ++x)
        if (preview.inkAt(x, y)) return x;
    return -1;
}

}  // namespace

TEST(BoardPreview, WorkedExampleAtTheDefaults) {
    const TpreviewLayout layout = layoutBoardPreview(323, 177, 33, 100, 4, 0);
    EXPECT_EQ(layout.centreX, 162);
    EXPECT_EQ(layout.centreY, 88);
    EXPECT_EQ(layout.cell, 31);
    EXPECT_EQ(layout.board.left, 100);
    EXPECT_EQ(layout.board.top, 49);
    EXPECT_EQ(layout.board.right, 224);
    EXPECT_EQ(layout.board.bottom, 173);
    EXPECT_EQ(layout.topMarker.left, 100);
    EXPECT_EQ(layout.topMarker.top, 7);
    EXPECT_EQ(layout.topMarker.right, 224);
    EXPECT_EQ(layout.topMarker.bottom, 42);

    const TboardPreview preview = drawBoardPreview(323, 177, 33, 100, 4, 0);
    EXPECT_TRUE(preview.inkAt(100, 49));
    EXPECT_TRUE(preview.inkAt(223, 172));
    EXPECT_FALSE(preview.inkAt(224, 100));  // right and bottom edges are left out
    EXPECT_FALSE(preview.inkAt(150, 173));
    for (int x : {131, 162, 193}) EXPECT_TRUE(preview.inkAt(x, 100)) << x;
    for (int y : {80, 111, 142}) EXPECT_TRUE(preview.inkAt(150, y)) << y;
    EXPECT_TRUE(preview.inkAt(100, 7));
    EXPECT_TRUE(preview.inkAt(223, 41));
    EXPECT_FALSE(preview.inkAt(150, 20));  // the marker is hollow
    EXPECT_FALSE(preview.inkAt(150, 45));  // seven pixels of gap
    expectSamePicture(33, 4, 0);
}

TEST(BoardPreview, ScaleExtremes) {
    const TpreviewLayout largest = layoutBoardPreview(323, 177, 0, 100, 0, 0);
    EXPECT_EQ(largest.board.right - largest.board.left, 176);
    EXPECT_EQ(largest.cell, 44);
    const TpreviewLayout smallest = layoutBoardPreview(323, 177, 100, 100, 0, 0);
    EXPECT_EQ(smallest.board.right - smallest.board.left, 16);
    EXPECT_EQ(smallest.topMarker.top, smallest.topMarker.bottom);  // no thickness, no gap
    EXPECT_EQ(smallest.topMarker.bottom, smallest.board.top);
    for (int p : {0, 1, 50, 99, 100}) expectSamePicture(p, 0, 0);
}

TEST(BoardPreview, VerticalAdjustmentFloorsSoMinusOneMovesSixAndPlusOneFive) {
    const int centreRow = layoutBoardPreview(323, 177, 33, 100, 0, 0).board.top;
    EXPECT_EQ(layoutBoardPreview(323, 177, 33, 100, -1, 0).board.top, centreRow - 6);
    EXPECT_EQ(layoutBoardPreview(323, 177, 33, 100, 1, 0).board.top, centreRow + 5);
    for (int v : {-30, -1, 0, 1, 30}) expectSamePicture(33, v, 0);
}

TEST(BoardPreview, EachRotationMovesTheBoardAndPutsTheMarkerOnTheScreensTop) {
    const TpreviewLayout upright = layoutBoardPreview(323, 177, 33, 100, 4, 0);
    const TpreviewLayout right = layoutBoardPreview(323, 177, 33, 100, 4, 90);
    EXPECT_GT(right.board.left, upright.board.left);
    EXPECT_LT(right.topMarker.right, right.board.left);
    const TpreviewLayout left = layoutBoardPreview(323, 177, 33, 100, 4, 270);
    EXPECT_LT(left.board.left, upright.board.left);
    EXPECT_GT(left.topMarker.left, left.board.right);
    const TpreviewLayout upsideDown = layoutBoardPreview(323, 177, 33, 100, 4, 180);
    EXPECT_LT(upsideDown.board.top, upright.board.top);
    EXPECT_GE(upsideDown.topMarker.top, upsideDown.board.bottom);
    for (int rotation : {0, 90, 180, 270})
        for (int v : {-1, 4, 30}) expectSamePicture(33, v, rotation);
    // At 90 degrees the marker stands left of the board: its outline comes first in a row.
    const TboardPreview turned = drawBoardPreview(323, 177, 33, 100, 4, 90);
    EXPECT_EQ(firstInkColumn(turned, 88), right.topMarker.left);
}

TEST(ExtraSettingsForm, DefaultsRestoreTheWorkedExampleAndTheFactor) {
    TextraSettingsForm form;
    EXPECT_NEAR(form.getScaleMod(), 0.703, 1e-12);
    form.rot180radio->setChecked(true);
    form.scaleSlider->setValue(0);
    form.yAdjustmentSlider->setValue(-12);
    form.audioOffsetSpin->setValue(-120);
    form.visualOffsetSpin->setValue(35);
    EXPECT_EQ(form.getScaleMod(), 1.0);
    EXPECT_EQ(form.rotationCode(), 2);
    form.defaultsButtonClick();
    EXPECT_TRUE(form.rot0radio->isChecked());
    EXPECT_EQ(form.scaleSlider->value(), 33);
    EXPECT_EQ(form.yAdjustmentSlider->value(), 4);
    EXPECT_EQ(form.audioOffsetSpin->value(), 0);
    EXPECT_EQ(form.visualOffsetSpin->value(), 0);
    // The picture on show is the worked example: ink opaque black, the rest transparent.
    const QImage& picture = form.previewPicture();
    ASSERT_EQ(picture.size(), QSize(323, 177));
    EXPECT_EQ(picture.pixel(100, 49), qRgba(0, 0, 0, 255));
    EXPECT_EQ(qAlpha(picture.pixel(150, 20)), 0);
    const TboardPreview expected = drawBoardPreview(323, 177, 33, 100, 4, 0);
    for (int y = 0; y < 177; ++y)
        for (int x = 0; x < 323; ++x) ASSERT_EQ(qAlpha(picture.pixel(x, y)) == 255, expected.inkAt(x, y));
}

TEST(ExtraSettingsForm, ShowsWhatTheSoundPlaysOn) {
    TextraSettingsForm form;
    EXPECT_EQ(form.soundOutputLabel->text().toStdString(), programOutputReport().line);
    EXPECT_EQ(form.soundOutputLabel->text().toStdString(), "Sound: silent clock");
}

TEST(ExtraSettingsForm, EveryChangeRedrawsThePreview) {
    TextraSettingsForm form;
    const QImage before = form.previewPicture();
    form.rot90radio->setChecked(true);
    EXPECT_NE(form.previewPicture(), before);
    const QImage turned = form.previewPicture();
    form.yAdjustmentSlider->setValue(10);
    EXPECT_NE(form.previewPicture(), turned);
    const QImage moved = form.previewPicture();
    form.scaleSlider->setValue(80);
    EXPECT_NE(form.previewPicture(), moved);
}
