// Jackets: a sunset sea for "drift", a night city for "skyline", speed chevrons for "overdrive".
#include "tools/stockpack/songArt.h"

#include <cmath>

#include "tools/stockpack/shapes.h"
#include "tools/stockpack/synth.h"

namespace stockpack {

namespace {

constexpr int size = 256;

Tmask everywhere() { return shapeMask(size, size, [](float, float) { return -1.0f; }); }

void sunsetSea(Tcanvas& canvas) {
    paintMask(canvas, everywhere(), [](float, float y) {
        return y < 150 ? mix(rgb(0x3b2a78), rgb(0xff8a5c), y / 150) : mix(rgb(0x1c2a5a), rgb(0x0c1230), (y - 150) / 106);
    });
    const Tmask sun = intersect(shapeMask(size, size, circle(128, 150, 52)), shapeMask(size, size, [](float, float y) { return y - 150; }));
    addGlow(canvas, blurred(sun, 14), rgb(0xffc27a), 0.7f);
    paintMask(canvas, sun, linearGradient(0, 98, rgb(0xfff1b8), 0, 150, rgb(0xffb36b)));
    for (int k = 0; k < 7; ++k) {
        const float y = 158.0f + 11.0f * static_cast<float>(k);
        const float half = 46.0f - 6.0f * static_cast<float>(k);
        paintMask(canvas, shapeMask(size, size, roundedBox(128, y, half, 1.6f, 1.6f)), withAlpha(rgb(0xffd08a), 0.8f - 0.09f * static_cast<float>(k)));
    }
    paintMask(canvas, shapeMask(size, size, segment({0, 150}, {256, 150}, 1.5f)), withAlpha(rgb(0xffe0b0), 0.6f));
}

void nightCity(Tcanvas& canvas) {
    paintMask(canvas, everywhere(), linearGradient(0, 0, rgb(0x0b1030), 0, 200, rgb(0xb0307a)));
    Tnoise windows(5);
    float x = -6;
    int building = 0;
    while (x < 256) {
        const float width = 22.0f + 14.0f * (windows.next() + 1.0f);
        const float height = 70.0f + 55.0f * (windows.next() + 1.0f);
        const float top = 256 - height;
        paintMask(canvas, shapeMask(size, size, roundedBox(x + width / 2, top + height / 2, width / 2 - 1, height / 2, 1)),
                  building % 2 ? rgb(0x101431) : rgb(0x181d45));
        for (float wy = top + 8; wy < 250; wy += 10) {
            for (float wx = x + 5; wx < x + width - 6; wx += 7) {
                if (windows.next() > 0.25f) continue;
                paintMask(canvas, shapeMask(size, size, roundedBox(wx + 1.5f, wy + 2, 1.6f, 2.2f, 0.5f)), rgb(0xffd27a), 0.9f);
            }
        }
        x += width + 2;
        ++building;
    }
    const Tmask moon = shapeMask(size, size, circle(200, 48, 18));
    addGlow(canvas, blurred(moon, 10), palette::mist, 0.5f);
    paintMask(canvas, moon, palette::mist);
}

void speedChevrons(Tcanvas& canvas) {
    paintMask(canvas, everywhere(), radialGradient(96, 128, 220, rgb(0xff6a3d), rgb(0x3a0a1e)));
    for (int k = 0; k < 9; ++k) {
        const float y = 14.0f + 29.0f * static_cast<float>(k);
        paintMask(canvas, shapeMask(size, size, segment({-10, y}, {266, y - 40}, 3)), withAlpha(palette::white, 0.12f));
    }
    for (int k = 0; k < 3; ++k) {
        const float cx = 70.0f + 52.0f * static_cast<float>(k);
        const Tmask chevron = shapeMask(size, size, polygon({{cx - 22, 70}, {cx + 8, 70}, {cx + 48, 118}, {cx + 8, 166}, {cx - 22, 166}, {cx + 18, 118}}));
        paintMask(canvas, blurred(shifted(chevron, 4, 6), 5), rgb(0x1a0610), 0.6f);
        paintMask(canvas, chevron, linearGradient(0, 70, palette::white, 0, 166, palette::gold), 0.55f + 0.2f * static_cast<float>(k));
    }
}

}  // namespace

Tcanvas drawJacket(const std::string& songName, double bpm, const TartFonts& fonts) {
    Tcanvas canvas(size, size, palette::ink);
    float titleY = 222;
    if (songName == "drift") sunsetSea(canvas);
    else if (songName == "skyline") nightCity(canvas), titleY = 34;
    else speedChevrons(canvas);
    letter(canvas, fonts.bold, songName, 128, titleY, 220, 40, {solid(palette::white), palette::ink, 3, 0.5f, 3, 1});
    const std::string tempo = std::to_string(static_cast<int>(std::lround(bpm))) + " BPM";
    letter(canvas, fonts.bold, tempo, 128, titleY + (titleY < 128 ? 28 : -32), 80, 14, {solid(palette::mist), palette::ink, 1.5f, 0, 0, 1});
    return canvas;
}

}  // namespace stockpack
