#include "render/frame_renderer.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <deque>
#include <optional>
#include <vector>

#include "render/caption_cache.hpp"
#include "render/coverage_painter.hpp"
#include "render/dither_tile.hpp"
#include "render/frame_compositor.hpp"
#include "render/pixel_region.hpp"
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

// What the frame as a whole depends on: a change of any of it redraws everything.
struct FrameKey {
    int width = 0, height = 0, stride = 0;
    PixelFormat format = PixelFormat::xrgb8888;
    double scale = 0;
    std::uint32_t padding = 0;
    int bits = 0;
    Rgb16 surround;
    bool operator==(const FrameKey&) const = default;
};

// What each shape's mask depends on, in device pixels (y down).
struct HintShape {
    double scale = 0, frameWidth = 0, frameHeight = 0;
    bool operator==(const HintShape&) const = default;
};
struct PatchOutline {
    PatchShape shape = PatchShape::ellipse;
    double left = 0, top = 0, width = 0, height = 0;
    bool operator==(const PatchOutline&) const = default;
};
struct MarkShape {
    bool shown = false;
    double centreX = 0, centreY = 0, arm = 0, dot = 0, ring = 0, lineWidth = 0;
    bool operator==(const MarkShape&) const = default;
};

// The patch's fill: the tile or a flat level, and the colour.
struct PatchFill {
    bool dither = false;
    std::array<double, 3> rgb{};
    // Compared bit for bit: a NaN level must not read as a change in every frame, nor hide one.
    bool operator==(const PatchFill& other) const
    {
        return dither == other.dither && std::memcmp(rgb.data(), other.rgb.data(), sizeof rgb) == 0;
    }
};

// A shape's mask, drawn again only when what it depends on changes.
template <typename Shape>
struct ShapeLayer {
    Shape shape{};    // what the mask depends on
    bool drawn = false;
    CoverageMask mask;
    PixelRect box;    // the mask's rectangle as the last frame drew it

    // Draws the mask again with `draw` when `now` differs from the shape it was drawn for; true then.
    template <typename Draw>
    bool update(const Shape& now, Draw&& draw)
    {
        if (drawn && now == shape) return false;
        draw(mask);
        shape = now;
        drawn = true;
        return true;
    }
};

PixelRect boxOf(const CoverageMask& mask)
{
    return mask.empty() ? PixelRect{} : PixelRect{mask.x, mask.y, mask.width, mask.height};
}

}  // namespace

// What persists between frames: the fonts, the masks and what they were drawn for, the compositor's
// rows, and the areas the last frames changed.
struct FrameRenderer::State {
    int bits = 8;
    CoveragePainter painter;
    FrameCompositor compositor;
    CaptionCache captions;
    std::uint64_t captionVersion = 0;
    PixelRect captionBox;
    ShapeLayer<HintShape> hint;
    ShapeLayer<PatchOutline> patch;
    ShapeLayer<MarkShape> mark;
    PatchFill patchFill;
    std::optional<FrameKey> frame;      // what the last frame was drawn for
    std::deque<std::vector<PixelRect>> history;  // what each of the last frames changed, newest first
    PixelRegion changed, drawn;
};

FrameRenderer::FrameRenderer() : state_(std::make_unique<State>()) {}

FrameRenderer::~FrameRenderer() = default;

void FrameRenderer::setSurfaceBits(int bits)
{
    PP_OWN_THREAD_ONLY(thread_);
    state_->bits = bits == 16 ? 16 : 8;
}

int FrameRenderer::surfaceBits() const
{
    return state_->bits;
}

// Draws surround, hint, caption, patch and mark, in that order. View points (y up) become frame pixels
// (y down) here: sizes, text and line widths are in points, `scale` device pixels each.
std::span<const PixelRect> FrameRenderer::render(const PatchView& view, const FrameBuffer& target)
{
    PP_OWN_THREAD_ONLY(thread_);
    State& s = *state_;
    const int w = target.width, h = target.height;
    const double k = target.scale > 0 && std::isfinite(target.scale) ? target.scale : 1;
    auto frameY = [h, k](double viewY) { return h - viewY * k; };

    const FrameKey key{w, h, target.stride, target.format, k, target.padding, s.bits, colourLevels(view.surround)};
    const bool sameFrame = s.frame == key;
    s.changed.clear();
    // A layer whose mask or fill changed changes the frame where it was and where it is now.
    auto changedLayer = [&](const PixelRect& before, const PixelRect& after) {
        s.changed.add(before, w, h);
        s.changed.add(after, w, h);
    };

    s.hint.update({k, double(w), double(h)}, [&](CoverageMask& m) {
        s.painter.text(m, HINT_TEXT, HINT_SIZE * k, HINT_CORNER.x * k, frameY(HINT_CORNER.y), w, h);
    });

    const Rect& p = view.patch;
    const double cx = p.x + p.width / 2, cy = p.y + p.height / 2;
    const double ring = view.markRing();
    const double arm = ring + MARK_ARM_MM * view.ppmm;

    const double captionBase = view.mark ? cy + arm : p.y + p.height;
    const CoverageMask& caption = s.captions.mask(s.painter, view.caption, CAPTION_SIZE * k, cx * k,
                                                  frameY(captionBase + CAPTION_GAP), w, h);
    if (s.captions.version() != s.captionVersion) {
        changedLayer(s.captionBox, boxOf(caption));
        s.captionVersion = s.captions.version();
        s.captionBox = boxOf(caption);
    }

    const bool rectangle = view.shape == PatchShape::rectangle;
    const PixelRect patchBefore = s.patch.box;
    const bool patchMoved =
        s.patch.update({view.shape, p.x * k, frameY(p.y + p.height), p.width * k, p.height * k},
                       [&](CoverageMask& m) {
                           if (rectangle) {
                               s.painter.rectangle(m, p.x * k, frameY(p.y + p.height), (p.x + p.width) * k,
                                                   frameY(p.y), w, h);
                           } else {
                               s.painter.ellipse(m, p.x * k, frameY(p.y + p.height), p.width * k, p.height * k, w, h);
                           }
                       });
    s.patch.box = boxOf(s.patch.mask);
    const bool dither = view.mode == Mode::dither;
    const PatchFill fill{dither, view.rgb};
    if (patchMoved || !(fill == s.patchFill)) {
        changedLayer(patchBefore, s.patch.box);
        s.patchFill = fill;
    }

    const PixelRect markBefore = s.mark.box;
    const MarkShape markShape =
        view.mark ? MarkShape{true, cx * k, frameY(cy), arm * k, MARK_DOT_MM * view.ppmm * k, ring * k, MARK_LINE_WIDTH * k}
                  : MarkShape{};
    if (s.mark.update(markShape, [&](CoverageMask& m) {
            if (view.mark) {
                s.painter.mark(m, cx * k, frameY(cy), arm * k, MARK_DOT_MM * view.ppmm * k, ring * k,
                               MARK_LINE_WIDTH * k, w, h);
            } else {
                m.width = m.height = 0;
            }
        })) {
        s.mark.box = boxOf(s.mark.mask);
        changedLayer(markBefore, s.mark.box);
    }

    // What the buffer lacks: the changes of the frames presented since it was last drawn.
    const auto age = static_cast<std::size_t>(std::max(target.age, 0));
    const bool whole = !sameFrame || age == 0 || age - 1 > s.history.size();
    // A blank buffer holds a surround of pixel value 0 already: only the shapes are drawn, and the
    // frame differs from the blank one only where they are.
    const bool onBlank =
        whole && target.blank && (screenPixel(key.surround, s.bits, target.format) | target.padding) == 0;
    s.drawn.clear();
    if (onBlank) {
        for (const CoverageMask* m : {&s.hint.mask, &s.patch.mask, &s.mark.mask}) s.drawn.add(boxOf(*m), w, h);
        s.drawn.add(boxOf(caption), w, h);
    } else if (!whole) {
        PixelRegion stale;
        for (std::size_t i = 0; i + 1 < age; ++i) stale.add(s.history[i], w, h);
        if (target.shown && target.shown != target.pixels) {
            for (const PixelRect& r : stale.rects()) {
                for (int y = r.y; y < r.y + r.height; ++y) {
                    const auto offset = static_cast<std::ptrdiff_t>(y) * target.stride + r.x;
                    std::memcpy(target.pixels + offset, target.shown + offset,
                                static_cast<std::size_t>(r.width) * sizeof(std::uint32_t));
                }
            }
        } else {
            s.drawn.add(stale.rects(), w, h);
        }
        s.drawn.add(s.changed.rects(), w, h);
    } else {
        s.drawn.add(wholeFrame(target), w, h);
    }

    const std::uint16_t grey = unitLevel16(TEXT_GREY);
    const DitherTile tile = ditherTile(view.rgb);
    const std::array<CoverageLayer, 4> layers{{
        {&s.hint.mask, {grey, grey, grey}, nullptr},
        {&caption, {grey, grey, grey}, nullptr},
        {&s.patch.mask, colourLevels(view.rgb), dither ? &tile : nullptr},
        {&s.mark.mask, {unitLevel16(MARK_RED[0]), unitLevel16(MARK_RED[1]), unitLevel16(MARK_RED[2])}, nullptr},
    }};
    s.compositor.compose(target, key.surround, layers, s.bits, s.drawn.rects());

    // A frame drawn whole may differ anywhere from the one before it.
    const std::span<const PixelRect> difference = sameFrame && !onBlank ? s.changed.rects() : s.drawn.rects();
    // After a blank frame no older buffer holds anything still shown.
    if (onBlank) {
        s.history.push_front({wholeFrame(target)});
    } else {
        s.history.emplace_front(difference.begin(), difference.end());
    }
    if (s.history.size() > HISTORY) s.history.pop_back();
    s.frame = key;
    return difference;
}

}  // namespace pp
