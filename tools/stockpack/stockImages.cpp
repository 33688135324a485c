// Logo, buttons, jacket frame, digits, shutters and the other images the game draws.
#include "tools/stockpack/stockImages.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "tools/stockpack/imageFiles.h"
#include "tools/stockpack/music.h"
#include "tools/stockpack/shapes.h"

namespace stockpack {

namespace {


// Which panels of the 4 × 4 emblem are lit: they spell a "T".
bool emblemPanelLit(int row, int column) { return row == 0 || column == 1 || column == 2; }

// The colour of a lit panel: cyan at the top left to magenta at the bottom right.
Tcolour emblemPanelColour(int row, int column) {
    const float along = (static_cast<float>(column) + static_cast<float>(row)) / 6.0f;
    // Through violet rather than straight across, which would pass through grey.
    return along < 0.5f ? mix(palette::cyan, rgb(0x8a6cff), along * 2) : mix(rgb(0x8a6cff), palette::magenta, along * 2 - 1);
}

std::string hexColour(const Tcolour& colour) {
    char text[8];
    std::snprintf(text, sizeof(text), "#%02x%02x%02x", toByte(colour.red), toByte(colour.green), toByte(colour.blue));
    return text;
}

// The emblem as an SVG of the same 4 x 4 panels, one vertical gradient per panel.
std::string emblemSvg() {
    const float pitch = 64;
    std::string defs;
    std::string panels;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            const bool lit = emblemPanelLit(row, column);
            const Tcolour top = lit ? emblemPanelColour(row, column) : rgb(0xe6eaf6);
            const Tcolour bottom = lit ? scaled(top, 0.85f) : rgb(0xcfd5ea);
            // Appended piece by piece: GCC 12 at -O3 takes a literal joined to a temporary string for
            // an overlapping copy.
            std::string id = "p";
            id.append(std::to_string(row * 4 + column));
            defs.append("<linearGradient id=\"").append(id).append("\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">");
            defs.append("<stop offset=\"0\" stop-color=\"").append(hexColour(top));
            defs.append("\"/><stop offset=\"1\" stop-color=\"").append(hexColour(bottom)).append("\"/></linearGradient>\n");
            const float left = pitch * static_cast<float>(column) + pitch * 0.08f;
            const float upper = pitch * static_cast<float>(row) + pitch * 0.08f;
            char rect[200];
            std::snprintf(rect, sizeof(rect), "<rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" rx=\"%g\" fill=\"url(#%s)\"/>\n",
                          left, upper, pitch * 0.84f, pitch * 0.84f, pitch * 0.12f, id.c_str());
            panels += rect;
        }
    }
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 256 256\">\n<defs>\n";
    svg.append(defs).append("</defs>\n").append(panels).append("</svg>\n");
    return svg;
}

void drawEmblem(Tcanvas& canvas, float left, float top, float size) {
    const float pitch = size / 4;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            const float cx = left + pitch * (static_cast<float>(column) + 0.5f);
            const float cy = top + pitch * (static_cast<float>(row) + 0.5f);
            const Tmask panel = shapeMask(canvas.width, canvas.height, roundedBox(cx, cy, pitch * 0.42f, pitch * 0.42f, pitch * 0.12f));
            if (!emblemPanelLit(row, column)) {
                paintMask(canvas, panel, linearGradient(0, cy - pitch * 0.42f, rgb(0xe6eaf6), 0, cy + pitch * 0.42f, rgb(0xcfd5ea)));
                continue;
            }
            const Tcolour colour = emblemPanelColour(row, column);
            paintMask(canvas, panel, linearGradient(0, cy - pitch * 0.42f, colour, 0, cy + pitch * 0.42f, scaled(colour, 0.85f)));
            const Tmask shine = shapeMask(canvas.width, canvas.height, roundedBox(cx, cy - pitch * 0.22f, pitch * 0.34f, pitch * 0.14f, pitch * 0.08f));
            paintMask(canvas, shine, withAlpha(palette::white, 0.3f));
        }
    }
}

Tcanvas drawLogo(const TartFonts& fonts) {
    Tcanvas canvas(512, 512);
    const Tmask emblemShadow = shapeMask(512, 512, roundedBox(256, 148, 120, 120, 20));
    paintMask(canvas, blurred(shifted(emblemShadow, 0, 8), 14), palette::ink, 0.3f);
    drawEmblem(canvas, 136, 28, 240);
    letter(canvas, fonts.bold, "Trellik", 256, 340, 470, 120,
           {linearGradient(0, 290, palette::indigo, 0, 390, palette::ink), palette::white, 0, 0.25f, 4, 2});
    const Tmask swoosh = shapeMask(512, 512, segment({70, 412}, {442, 412}, 8));
    paintMask(canvas, swoosh, linearGradient(70, 0, palette::cyan, 442, 0, palette::magenta));
    letter(canvas, fonts.bold, "4 × 4 RHYTHM", 256, 452, 300, 34, {solid(rgb(0x5a628c)), palette::ink, 0, 0, 0, 6});
    return canvas;
}

Tcanvas drawBlank() { return Tcanvas(16, 16, palette::white); }

void drawIconGlowing(Tcanvas& canvas, const Tmask& icon) {
    glowAround(canvas, icon, palette::cyan, 10, 0.8f);
    paintMask(canvas, icon, linearGradient(0, 60, palette::white, 0, 200, palette::mist));
}

Tcanvas drawArrowButton(bool pointsLeft) {
    Tcanvas canvas(256, 256);
    buttonBody(canvas, palette::indigo, palette::ink, palette::cyan);
    std::vector<Tpoint> arrow = {{78, 128}, {140, 66}, {140, 104}, {184, 104}, {184, 152}, {140, 152}, {140, 190}};
    if (!pointsLeft) {
        for (Tpoint& p : arrow) p.x = 256 - p.x;
    }
    drawIconGlowing(canvas, shapeMask(256, 256, [shape = polygon(arrow)](float x, float y) { return shape(x, y) - 4; }));
    return canvas;
}

Tcanvas drawMarkerButton(const TartFonts& fonts) {
    Tcanvas canvas(256, 256);
    buttonBody(canvas, palette::indigo, palette::ink, palette::cyan);
    const Tmask icon = unite(shapeMask(256, 256, ring(128, 104, 42, 12)), shapeMask(256, 256, circle(128, 104, 16)));
    drawIconGlowing(canvas, icon);
    letter(canvas, fonts.bold, "MARKER", 128, 184, 170, 36, {solid(palette::white), palette::ink, 0, 0, 0, 2});
    return canvas;
}

Tcanvas drawGoButton(const TartFonts& fonts) {
    Tcanvas canvas(256, 256);
    buttonBody(canvas, palette::magenta, rgb(0xc2185b), palette::gold);
    letter(canvas, fonts.bold, "GO!", 128, 130, 180, 120, {linearGradient(0, 70, palette::white, 0, 190, rgb(0xffe7a8)), rgb(0x7a0f3a), 4, 0.5f, 5, 0});
    return canvas;
}

Tcanvas drawBackButton(const TartFonts& fonts) {
    Tcanvas canvas(256, 256);
    buttonBody(canvas, palette::indigo, palette::ink, palette::cyan);
    // A U-turn: an arc with an arrow head pointing back to the left.
    const Tmask arc = intersect(shapeMask(256, 256, ring(136, 104, 40, 18)),
                                shapeMask(256, 256, [](float x, float y) { return std::max(126.0f - x, y - 150.0f); }));
    const Tmask stem = shapeMask(256, 256, roundedBox(116, 64, 22, 9, 2));
    const Tmask head = shapeMask(256, 256, polygon({{64, 64}, {100, 34}, {100, 94}}));
    drawIconGlowing(canvas, unite(unite(arc, stem), head));
    letter(canvas, fonts.bold, "BACK", 128, 190, 150, 36, {solid(palette::white), palette::ink, 0, 0, 0, 3});
    return canvas;
}

// The frame's inner edge lies inside the jacket so that it also covers the jacket's small offset.
Tcanvas drawCoverBorder() {
    Tcanvas canvas(256, 256);
    const Tsdf outer = roundedBox(128, 128, 123, 123, 10);
    const Tsdf inner = roundedBox(128, 128, 91, 91, 4);
    const Tmask frame = subtract(shapeMask(256, 256, outer), shapeMask(256, 256, inner));
    paintMask(canvas, frame, linearGradient(0, 5, palette::white, 0, 251, rgb(0x9aa0b4)));
    const Tmask bevel = subtract(shapeMask(256, 256, roundedBox(128, 128, 119, 119, 8)), shapeMask(256, 256, roundedBox(128, 128, 95, 95, 5)));
    paintMask(canvas, bevel, linearGradient(0, 9, rgb(0xe8ebf5), 0, 247, rgb(0xbfc4d6)));
    paintMask(canvas, shapeMask(256, 256, roundedFrame(128, 128, 92, 92, 4, 3)), rgb(0x30354d));
    paintMask(canvas, shapeMask(256, 256, roundedFrame(128, 128, 122, 122, 10, 2)), rgb(0x5c6177));
    return canvas;
}

Tcanvas drawCoverGlow() {
    Tcanvas canvas(256, 256);
    const Tmask rim = shapeMask(256, 256, roundedFrame(128, 128, 120, 120, 10, 6));
    addGlow(canvas, blurred(rim, 8), palette::white, 1.2f);
    paintMask(canvas, rim, withAlpha(palette::white, 0.85f));
    for (const Tpoint corner : {Tpoint{30, 30}, Tpoint{226, 226}}) {
        const Tmask sparkle = shapeMask(256, 256, polygon(starCorners(corner.x, corner.y, 26, 5, 4, 0)));
        addGlow(canvas, blurred(sparkle, 6), palette::white, 1.0f);
        paintMask(canvas, sparkle, palette::white);
    }
    // A faint diagonal sheen across the jacket itself.
    const Tmask sheen = intersect(shapeMask(256, 256, roundedBox(128, 128, 92, 92, 4)),
                                  shapeMask(256, 256, [](float x, float y) { return std::fabs(x + y - 200) - 24; }));
    paintMask(canvas, sheen, withAlpha(palette::white, 0.14f));
    return canvas;
}

Tcanvas drawStartHere(const TartFonts& fonts) {
    Tcanvas canvas(256, 256);
    const Tmask circleBody = shapeMask(256, 256, circle(128, 128, 96));
    paintMask(canvas, circleBody, radialGradient(128, 110, 110, withAlpha(palette::mist, 0.55f), withAlpha(palette::cyan, 0.25f)));
    const Tmask outline = shapeMask(256, 256, ring(128, 128, 100, 10));
    glowAround(canvas, outline, palette::cyan, 8, 0.9f);
    paintMask(canvas, outline, palette::white);
    letter(canvas, fonts.bold, "START", 128, 112, 160, 46, {solid(palette::white), palette::ink, 3, 0, 0, 1});
    letter(canvas, fonts.bold, "HERE", 128, 158, 120, 36, {solid(palette::white), palette::ink, 3, 0, 0, 2});
    return canvas;
}

Tcanvas drawDigit(const TartFonts& fonts, int digit) {
    Tcanvas canvas(128, 160);
    // Every digit at one size (the size that fits "0"), so a row of digits lines up.
    const TtextRun zero = renderText(fonts.bold, "0", 100);
    const int size = static_cast<int>(100.0f * 128.0f / static_cast<float>(zero.ink.height));
    const TtextRun run = renderText(fonts.bold, std::to_string(digit), size);
    const int left = (128 - run.ink.width) / 2;
    const int top = (160 - run.ink.height) / 2;
    const Tmask ink = placedRun(run, 128, 160, left, top);
    const Tmask outline = dilated(ink, 6);
    paintMask(canvas, blurred(shifted(outline, 3, 4), 4), palette::ink, 0.6f);
    paintMask(canvas, outline, palette::ink);
    paintMask(canvas, ink, linearGradient(0, static_cast<float>(top), palette::white, 0, static_cast<float>(top + run.ink.height), rgb(0x9fe6ff)));
    return canvas;
}

Tcanvas drawComboText(const TartFonts& fonts) {
    Tcanvas canvas(256, 256);
    letter(canvas, fonts.bold, "COMBO", 128, 128, 244, 80,
           {linearGradient(0, 96, palette::white, 0, 160, palette::gold), palette::ink, 5, 0.5f, 4, 3});
    return canvas;
}

// Shutters: dark ribbed plates; the edge where the two meet carries a bright strip with chevrons
// pointing at the other plate.
Tcanvas drawShutter(bool top) {
    Tcanvas canvas(512, 512, palette::ink);
    auto fromEdge = [top](float y) { return top ? 512 - y : y; };  // distance from the meeting edge
    paintMask(canvas, shapeMask(512, 512, [](float, float) { return -1.0f; }),
              [&](float, float y) { return mix(rgb(0x262d5c), rgb(0x12162e), fromEdge(y) / 512); });
    for (int groove = 1; groove < 8; ++groove) {
        const float distance = 40.0f + 64.0f * static_cast<float>(groove);
        const float y = top ? 512 - distance : distance;
        paintMask(canvas, shapeMask(512, 512, segment({0, y - 2}, {512, y - 2}, 2)), withAlpha(palette::white, 0.10f));
        paintMask(canvas, shapeMask(512, 512, segment({0, y + 1}, {512, y + 1}, 3)), withAlpha(rgb(0x05060f), 0.6f));
    }
    const float stripCentre = top ? 512 - 20 : 20;
    const Tmask strip = shapeMask(512, 512, roundedBox(256, stripCentre, 300, 14, 0));
    paintMask(canvas, strip, linearGradient(0, 0, palette::cyan, 512, 0, palette::magenta));
    for (int k = 0; k < 8; ++k) {
        const float cx = 32.0f + 64.0f * static_cast<float>(k);
        const float tip = top ? 512 - 9 : 9;
        const float back = top ? 512 - 31 : 31;
        const Tmask chevron = shapeMask(512, 512, polygonOutline({{cx - 14, back}, {cx, tip}, {cx + 14, back}}, 5));
        paintMask(canvas, chevron, withAlpha(palette::ink, 0.75f));
    }
    const float lipY = top ? 512 - 40 : 40;
    paintMask(canvas, shapeMask(512, 512, segment({0, lipY}, {512, lipY}, 4)), withAlpha(palette::white, 0.35f));
    addGlow(canvas, blurred(strip, 10), palette::cyan, 0.35f);
    return canvas;
}

Tcanvas drawPanelHighlight() {
    Tcanvas canvas(256, 256);
    const Tmask body = shapeMask(256, 256, roundedBox(128, 128, 120, 120, 22));
    const Tmask inner = blurred(shapeMask(256, 256, roundedBox(128, 128, 92, 92, 30)), 26);
    paintMask(canvas, subtract(body, scaledMask(inner, 0.7f)), withAlpha(palette::white, 0.9f));
    paintMask(canvas, shapeMask(256, 256, roundedFrame(128, 128, 116, 116, 20, 6)), palette::white);
    return canvas;
}

}  // namespace

Tcanvas drawDefaultCover(const TartFonts& fonts) {
    Tcanvas canvas(256, 256, palette::ink);
    paintMask(canvas, shapeMask(256, 256, [](float, float) { return -1.0f; }), linearGradient(0, 0, palette::indigo, 256, 256, palette::ink));
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            const float cx = 32.0f + 64.0f * static_cast<float>(column);
            const float cy = 32.0f + 64.0f * static_cast<float>(row);
            paintMask(canvas, shapeMask(256, 256, roundedBox(cx, cy, 27, 27, 6)), withAlpha(palette::white, 0.06f));
        }
    }
    letter(canvas, fonts.bold, "♪", 128, 110, 150, 140,
           {linearGradient(60, 40, palette::cyan, 190, 180, palette::magenta), palette::white, 0, 0.6f, 6, 0});
    letter(canvas, fonts.bold, "Trellik", 128, 214, 150, 34, {solid(palette::mist), palette::ink, 0, 0, 0, 2});
    return canvas;
}

void writeStockImages(TpackWriter& pack, const TartFonts& fonts) {
    pack.writeTga("server/gfx/bigLogo.tga", drawLogo(fonts));
    pack.writeTga("server/gfx/blank.tga", drawBlank());
    pack.writeTga("server/gfx/leftArrow.tga", drawArrowButton(true));
    pack.writeTga("server/gfx/rightArrow.tga", drawArrowButton(false));
    pack.writeTga("server/gfx/markerButton.tga", drawMarkerButton(fonts));
    pack.writeTga("server/gfx/goButton.tga", drawGoButton(fonts));
    pack.writeTga("server/gfx/backButton.tga", drawBackButton(fonts));
    pack.writeTga("server/gfx/coverBorder.tga", drawCoverBorder());
    pack.writeTga("server/gfx/coverGlow.tga", drawCoverGlow());
    pack.writeTga("server/gfx/startHere.tga", drawStartHere(fonts));
    for (int digit = 0; digit < 10; ++digit) pack.writeTga(joined({"server/gfx/", std::to_string(digit), ".tga"}), drawDigit(fonts, digit));
    pack.writeTga("server/gfx/comboText.tga", drawComboText(fonts));
    pack.writeTga("server/gfx/topShutter.tga", drawShutter(true));
    pack.writeTga("server/gfx/btmShutter.tga", drawShutter(false));
    pack.writeTga("server/gfx/panelHighlight.tga", drawPanelHighlight());
    pack.writeJpeg("server/gfx/defaultCover.jpg", drawDefaultCover(fonts));
}

void writeAppIcons(TpackWriter& pack) {
    for (const int size : {48, 128, 256}) {
        Tcanvas canvas(size, size);
        drawEmblem(canvas, 0, 0, static_cast<float>(size));
        pack.writeBytes(joined({"icons/trellik-", std::to_string(size), ".png"}), encodePng(canvas));
    }
    pack.writeText("icons/trellik.svg", emblemSvg());
}

}  // namespace stockpack
