// Two marker skins. "Halo": a ring closes onto a target circle and bursts when hit. "Prism": a
// diamond fills from the bottom while brackets close in, and shatters into shards when hit.
#include "tools/stockpack/markerSkins.h"

#include <cmath>
#include <functional>
#include <string>

#include "tools/stockpack/music.h"
#include "tools/stockpack/shapes.h"

namespace stockpack {

const TskinState skinStates[7] = {{"normal", 16}, {"normalpassed", 8}, {"perfect", 12}, {"great", 12},
                                  {"good", 10},   {"bad", 10},          {"miss", 10}};

namespace {

constexpr int frameSize = 128;
constexpr float centre = frameSize / 2.0f;
constexpr float pi = static_cast<float>(M_PI);

enum class Tjudgement { perfect, great, good, bad, miss };

struct TjudgementLook {
    const char* label;
    Tcolour colour;
    int sparks;
};

TjudgementLook lookOf(Tjudgement judgement) {
    switch (judgement) {
        case Tjudgement::perfect: return {"PERFECT", palette::gold, 10};
        case Tjudgement::great: return {"GREAT", palette::green, 8};
        case Tjudgement::good: return {"GOOD", palette::blue, 6};
        case Tjudgement::bad: return {"BAD", palette::violet, 0};
        case Tjudgement::miss: return {"MISS", rgb(0x9a9fb5), 0};
    }
    return {"", palette::white, 0};
}

float easeOut(float t) { return 1 - (1 - t) * (1 - t); }

Tmask full(const Tsdf& shape) { return shapeMask(frameSize, frameSize, shape); }

// The judgement's word, growing in quickly, fading over the last third.
void judgementLabel(Tcanvas& canvas, const TartFonts& fonts, Tjudgement judgement, float progress) {
    const TjudgementLook look = lookOf(judgement);
    const float pop = 0.8f + 0.2f * easeOut(std::min(1.0f, progress * 4));
    const float opacity = std::min(1.0f, (1.0f - progress) * 3);
    const float drop = judgement == Tjudgement::miss ? 10 * progress : 0;
    Tcanvas word(frameSize, frameSize);
    letter(word, fonts.bold, look.label, centre, centre + drop, 120 * pop, 30 * pop,
           {linearGradient(0, centre - 12, palette::white, 0, centre + 12, look.colour), palette::ink, 2.5f, 0, 0, 1});
    drawCanvas(canvas, word, 0, 0, opacity);
}

// Sparks flying out from the centre, for hits.
void sparks(Tcanvas& canvas, int count, const Tcolour& colour, float progress, float spin) {
    for (int k = 0; k < count; ++k) {
        const float angle = spin + 2 * pi * static_cast<float>(k) / static_cast<float>(count);
        const float inner = 20 + 40 * easeOut(progress);
        const float outer = inner + 14 * (1 - progress) + 2;
        const Tpoint a{centre + inner * std::sin(angle), centre - inner * std::cos(angle)};
        const Tpoint b{centre + outer * std::sin(angle), centre - outer * std::cos(angle)};
        const Tmask streak = full(segment(a, b, 4 * (1 - progress) + 1.5f));
        addGlow(canvas, blurred(streak, 3), colour, 0.8f * (1 - progress));
        paintMask(canvas, streak, mix(palette::white, colour, progress), 1 - progress * 0.8f);
    }
}

// ---- Halo ----

constexpr float haloTarget = 40;

void haloTargetRing(Tcanvas& canvas, float opacity) {
    paintMask(canvas, full(ring(centre, centre, haloTarget, 3)), withAlpha(palette::white, 0.6f), opacity);
}

Tcanvas haloApproach(float progress) {
    Tcanvas canvas(frameSize, frameSize);
    haloTargetRing(canvas, 0.4f + 0.6f * progress);
    const float core = 8 + 26 * progress;
    paintMask(canvas, full(circle(centre, centre, core)), radialGradient(centre, centre, core, withAlpha(palette::white, 0.9f), withAlpha(palette::cyan, 0.6f)),
              0.3f + 0.5f * progress);
    const float radius = haloTarget + (57 - haloTarget) * (1 - progress);
    const Tmask closing = full(ring(centre, centre, radius, 7));
    addGlow(canvas, blurred(closing, 4), palette::cyan, 0.5f + 0.5f * progress);
    paintMask(canvas, closing, mix(palette::cyan, palette::white, progress * progress), 0.35f + 0.65f * progress);
    return canvas;
}

Tcanvas haloOverrun(float progress) {
    Tcanvas canvas(frameSize, frameSize);
    const float radius = haloTarget - 10 * progress;
    const Tmask band = full(ring(centre, centre, radius, 7));
    addGlow(canvas, blurred(band, 4), palette::orange, 0.9f);
    paintMask(canvas, band, mix(palette::white, palette::orange, progress));
    paintMask(canvas, full(circle(centre, centre, 30 - 10 * progress)), withAlpha(palette::orange, 0.5f), 1 - progress);
    return canvas;
}

Tcanvas haloJudged(const TartFonts& fonts, Tjudgement judgement, float progress) {
    Tcanvas canvas(frameSize, frameSize);
    const TjudgementLook look = lookOf(judgement);
    if (judgement == Tjudgement::miss) {
        const float arm = 22;
        const Tmask cross = unite(full(segment({centre - arm, centre - arm}, {centre + arm, centre + arm}, 7)),
                                  full(segment({centre + arm, centre - arm}, {centre - arm, centre + arm}, 7)));
        paintMask(canvas, cross, rgb(0xd0455a), 0.8f * (1 - progress));
    } else {
        const bool hit = judgement != Tjudgement::bad;
        const float radius = hit ? haloTarget + 22 * easeOut(progress) : haloTarget * (1 - 0.5f * progress);
        const Tmask wave = full(ring(centre, centre, radius, 8 * (1 - progress) + 2));
        addGlow(canvas, blurred(wave, 5), look.colour, 1 - progress);
        paintMask(canvas, wave, mix(palette::white, look.colour, progress), 1 - progress);
        if (hit) {
            paintMask(canvas, full(circle(centre, centre, 34 * (1 - progress))), withAlpha(look.colour, 0.5f), 1 - progress);
        }
        sparks(canvas, look.sparks, look.colour, progress, 0.3f * progress);
    }
    judgementLabel(canvas, fonts, judgement, progress);
    return canvas;
}

// ---- Prism ----

constexpr float prismHalf = 40;  // centre to tip of the diamond

std::vector<Tpoint> diamond(float half) {
    return {{centre, centre - half}, {centre + half, centre}, {centre, centre + half}, {centre - half, centre}};
}

void brackets(Tcanvas& canvas, float reach, const Tcolour& colour, float opacity) {
    for (int k = 0; k < 4; ++k) {
        const float sx = k % 2 ? 1.0f : -1.0f;
        const float sy = k / 2 ? 1.0f : -1.0f;
        const Tpoint corner{centre + sx * reach, centre + sy * reach};
        const Tmask bracket = unite(full(segment(corner, {corner.x - sx * 16, corner.y}, 5)), full(segment(corner, {corner.x, corner.y - sy * 16}, 5)));
        paintMask(canvas, bracket, colour, opacity);
    }
}

Tcanvas prismApproach(float progress) {
    Tcanvas canvas(frameSize, frameSize);
    const Tmask shape = full(polygon(diamond(prismHalf)));
    paintMask(canvas, shape, withAlpha(palette::ink, 0.55f));
    // The fill rises from the bottom tip; it reaches the top tip on the beat.
    const float level = centre + prismHalf - 2 * prismHalf * progress;
    const Tmask filled = intersect(shape, full([level](float, float y) { return level - y; }));
    paintMask(canvas, filled, linearGradient(0, centre + prismHalf, palette::magenta, 0, centre - prismHalf, palette::gold));
    paintMask(canvas, full(polygonOutline(diamond(prismHalf), 4)), mix(palette::magenta, palette::white, progress));
    brackets(canvas, 58 - 22 * progress, mix(palette::magenta, palette::white, progress), 0.4f + 0.6f * progress);
    return canvas;
}

Tcanvas prismOverrun(float progress) {
    Tcanvas canvas(frameSize, frameSize);
    const float half = prismHalf * (1 - 0.25f * progress);
    const Tmask shape = full(polygon(diamond(half)));
    addGlow(canvas, blurred(shape, 5), palette::orange, 0.8f);
    paintMask(canvas, shape, linearGradient(0, centre + half, palette::orange, 0, centre - half, palette::white));
    brackets(canvas, 36, palette::orange, 1 - progress);
    return canvas;
}

void shards(Tcanvas& canvas, int count, const Tcolour& colour, float progress) {
    for (int k = 0; k < count; ++k) {
        const float angle = pi / 4 + 2 * pi * static_cast<float>(k) / static_cast<float>(count);
        const float distance = 50 * easeOut(progress);
        const float cx = centre + distance * std::sin(angle);
        const float cy = centre - distance * std::cos(angle);
        const std::vector<Tpoint> shard = rotatedCorners({{cx, cy - 10}, {cx + 7, cy + 6}, {cx - 7, cy + 6}}, cx, cy, angle + 4 * progress);
        paintMask(canvas, full(polygon(shard)), k % 2 ? colour : palette::white, 1 - progress);
    }
}

Tcanvas prismJudged(const TartFonts& fonts, Tjudgement judgement, float progress) {
    Tcanvas canvas(frameSize, frameSize);
    const TjudgementLook look = lookOf(judgement);
    if (judgement == Tjudgement::miss) {
        const float fall = 18 * progress;
        std::vector<Tpoint> corners = diamond(prismHalf * 0.8f);
        for (Tpoint& p : corners) p.y += fall;
        paintMask(canvas, full(polygonOutline(corners, 4)), look.colour, 1 - progress);
    } else if (judgement == Tjudgement::bad) {
        const Tmask shape = full(polygon(diamond(prismHalf * (1 - 0.3f * progress))));
        const Tmask crack = full(polygonOutline({{centre - 6, centre - 40}, {centre + 8, centre - 8}, {centre - 8, centre + 10}, {centre + 4, centre + 40}}, 3));
        paintMask(canvas, subtract(shape, crack), withAlpha(look.colour, 0.8f), 1 - progress);
    } else {
        const float half = prismHalf + 20 * easeOut(progress);
        const Tmask outline = full(polygonOutline(diamond(half), 6 * (1 - progress) + 1.5f));
        addGlow(canvas, blurred(outline, 5), look.colour, 1 - progress);
        paintMask(canvas, outline, look.colour, 1 - progress);
        shards(canvas, look.sparks, look.colour, progress);
    }
    judgementLabel(canvas, fonts, judgement, progress);
    return canvas;
}

// ---- Writing ----

struct Tskin {
    std::string name;
    std::function<Tcanvas(float)> approach;
    std::function<Tcanvas(float)> overrun;
    std::function<Tcanvas(Tjudgement, float)> judged;
};

Tcanvas previewOf(const Tskin& skin, const TartFonts& fonts, const Tcolour& accent) {
    Tcanvas canvas(256, 256);
    const Tmask plate = shapeMask(256, 256, roundedBox(128, 128, 120, 120, 20));
    paintMask(canvas, plate, linearGradient(0, 8, palette::deep, 0, 248, palette::ink));
    paintMask(canvas, shapeMask(256, 256, roundedFrame(128, 128, 118, 118, 20, 4)), accent);
    drawCanvas(canvas, resampled(skin.approach(0.75f), 256, 256), 0, -14);
    letter(canvas, fonts.bold, skin.name, 128, 222, 180, 34, {solid(palette::white), palette::ink, 3, 0, 0, 3});
    return canvas;
}

void writeSkin(TpackWriter& pack, const TartFonts& fonts, const Tskin& skin, const Tcolour& accent) {
    const std::string prefix = joined({"demo/MKR/", skin.name, "_"});
    for (int state = 0; state < 7; ++state) {
        const TskinState& info = skinStates[state];
        for (int frame = 0; frame < info.frames; ++frame) {
            const float progress = static_cast<float>(frame) / static_cast<float>(info.frames - 1);
            const Tcanvas canvas = state == 0 ? skin.approach(progress)
                                 : state == 1 ? skin.overrun(progress)
                                              : skin.judged(static_cast<Tjudgement>(state - 2), progress);
            pack.writeTga(joined({prefix, info.name, "_", std::to_string(frame), ".tga"}), canvas);
        }
    }
    pack.writeTga(prefix + "prev.tga", previewOf(skin, fonts, accent));
}

}  // namespace

void writeMarkerSkins(TpackWriter& pack, const TartFonts& fonts) {
    const Tskin halo{"Halo", haloApproach, haloOverrun,
                     [&fonts](Tjudgement judgement, float progress) { return haloJudged(fonts, judgement, progress); }};
    const Tskin prism{"Prism", prismApproach, prismOverrun,
                      [&fonts](Tjudgement judgement, float progress) { return prismJudged(fonts, judgement, progress); }};
    writeSkin(pack, fonts, halo, palette::cyan);
    writeSkin(pack, fonts, prism, palette::magenta);
}

}  // namespace stockpack
