// Lettering, button bodies and glows in the pack's one visual style.
#include "tools/stockpack/artStyle.h"

#include "tools/stockpack/shapes.h"

namespace stockpack {

void letter(Tcanvas& canvas, const TfontFace& face, const std::string& text, float cx, float cy, float boxWidth,
            float boxHeight, const Tlettering& style) {
    const float margin = style.outlineWidth * 2;
    const Tmask ink = fittedText(face, text, canvas.width, canvas.height, cx, cy, boxWidth - margin, boxHeight - margin, 400,
                                 style.tracking);
    const Tmask outline = style.outlineWidth > 0 ? dilated(ink, style.outlineWidth) : ink;
    if (style.shadowOpacity > 0) {
        const Tmask shadow = blurred(shifted(outline, style.shadowOffset, style.shadowOffset), style.shadowOffset);
        paintMask(canvas, shadow, palette::ink, style.shadowOpacity);
    }
    if (style.outlineWidth > 0) paintMask(canvas, outline, style.outline);
    paintMask(canvas, ink, style.fill);
}

Tmask buttonBody(Tcanvas& canvas, const Tcolour& top, const Tcolour& bottom, const Tcolour& rim) {
    const float size = static_cast<float>(canvas.width);
    const float centre = size / 2;
    const float half = size * 0.44f;
    const float corner = size * 0.12f;
    const Tmask body = shapeMask(canvas.width, canvas.height, roundedBox(centre, centre, half, half, corner));
    paintMask(canvas, blurred(shifted(body, 0, static_cast<int>(size * 0.025f)), static_cast<int>(size * 0.03f)), palette::ink, 0.6f);
    paintMask(canvas, body, linearGradient(0, centre - half, top, 0, centre + half, bottom));
    const Tmask inner = shapeMask(canvas.width, canvas.height, roundedBox(centre, centre, half * 0.9f, half * 0.9f, corner * 0.8f));
    const Tmask upperHalf = shapeMask(canvas.width, canvas.height, roundedBox(centre, centre - half * 0.45f, half * 0.86f, half * 0.42f, corner * 0.7f));
    paintMask(canvas, intersect(inner, upperHalf),
              linearGradient(0, centre - half, withAlpha(palette::white, 0.28f), 0, centre, withAlpha(palette::white, 0.02f)));
    const Tmask rimMask = shapeMask(canvas.width, canvas.height, roundedFrame(centre, centre, half - size * 0.012f, half - size * 0.012f, corner, size * 0.024f));
    paintMask(canvas, rimMask, rim);
    return body;
}

void glowAround(Tcanvas& canvas, const Tmask& shape, const Tcolour& colour, int radius, float strength) {
    addGlow(canvas, blurred(shape, radius), colour, strength);
}

}  // namespace stockpack
