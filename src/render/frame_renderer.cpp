#include "render/frame_renderer.hpp"

#include <array>
#include <cmath>

#include "render/caption_cache.hpp"
#include "render/coverage_painter.hpp"
#include "render/dither_tile.hpp"
#include "render/frame_compositor.hpp"
#include "render/sample_levels.hpp"

namespace pp {
namespace {

constexpr const char* HINT_TEXT = "Esc - stop";
constexpr double HINT_SIZE = 13;
constexpr Point HINT_CORNER{24, 18};  // the hint's text box, lower-left corner, view points
constexpr double CAPTION_SIZE = 18;
constexpr double CAPTION_GAP = 24;
constexpr double MARK_LINE_WIDTH = 2;
constexpr double TEXT_GREY = 0.35;
constexpr std::array<double, 3> MARK_RED{0.75, 0.1, 0.1};

Rgb16 colourLevels(const std::array<double, 3>& c)
{
    return {level16(c[0]), level16(c[1]), level16(c[2])};
}

}  // namespace

// What persists between frames: the fonts, the masks' memory and the compositor's rows.
struct FrameRenderer::Surfaces {
    int bits = 8;
    CoveragePainter painter;
    FrameCompositor compositor;
    CaptionCache captions;
    CoverageMask hint, patch, mark;
};

FrameRenderer::FrameRenderer() : surfaces_(std::make_unique<Surfaces>()) {}

FrameRenderer::~FrameRenderer() = default;

void FrameRenderer::setSurfaceBits(int bits)
{
    surfaces_->bits = bits == 16 ? 16 : 8;
}

int FrameRenderer::surfaceBits() const
{
    return surfaces_->bits;
}

// Draws surround, hint, caption, patch and mark, in that order. View points (y up) become frame pixels
// (y down) here: sizes, text and line widths are in points, `scale` device pixels each.
void FrameRenderer::render(const PatchView& view, const FrameBuffer& target)
{
    Surfaces& s = *surfaces_;
    const int w = target.width, h = target.height;
    const double k = target.scale > 0 && std::isfinite(target.scale) ? target.scale : 1;
    auto frameY = [h, k](double viewY) { return h - viewY * k; };

    const Rect& p = view.patch;
    const double cx = p.x + p.width / 2, cy = p.y + p.height / 2;
    const double ring = view.markRing();
    const double arm = ring + MARK_ARM_MM * view.ppmm;

    s.painter.text(s.hint, HINT_TEXT, HINT_SIZE * k, HINT_CORNER.x * k, frameY(HINT_CORNER.y), w, h);

    const double captionBase = view.mark ? cy + arm : p.y + p.height;
    const CoverageMask& caption = s.captions.mask(s.painter, view.caption, CAPTION_SIZE * k, cx * k,
                                                  frameY(captionBase + CAPTION_GAP), w, h);

    if (view.shape == PatchShape::rectangle) {
        s.painter.rectangle(s.patch, p.x * k, frameY(p.y + p.height), (p.x + p.width) * k, frameY(p.y), w, h);
    } else {
        s.painter.ellipse(s.patch, p.x * k, frameY(p.y + p.height), p.width * k, p.height * k, w, h);
    }

    if (view.mark) {
        s.painter.mark(s.mark, cx * k, frameY(cy), arm * k, MARK_DOT_MM * view.ppmm * k, ring * k,
                       MARK_LINE_WIDTH * k, w, h);
    } else {
        s.mark.width = s.mark.height = 0;
    }

    const std::uint16_t grey = unitLevel16(TEXT_GREY);
    const DitherTile tile = ditherTile(view.rgb);
    const bool dither = view.mode == "dither";
    const std::array<CoverageLayer, 4> layers{{
        {&s.hint, {grey, grey, grey}, nullptr},
        {&caption, {grey, grey, grey}, nullptr},
        {&s.patch, colourLevels(view.rgb), dither ? &tile : nullptr},
        {&s.mark, {unitLevel16(MARK_RED[0]), unitLevel16(MARK_RED[1]), unitLevel16(MARK_RED[2])}, nullptr},
    }};
    s.compositor.compose(target, colourLevels(view.surround), layers, s.bits);
}

}  // namespace pp
