#include "render/coverage_painter.hpp"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace pp {
namespace {

// Cairo keeps device coordinates in 24.8 fixed point; shapes reaching beyond this are not drawn.
constexpr double COORDINATE_LIMIT = 1 << 22;

bool drawable(std::initializer_list<double> values)
{
    return std::all_of(values.begin(), values.end(),
                       [](double v) { return std::isfinite(v) && std::fabs(v) < COORDINATE_LIMIT; });
}

// Sizes `mask` to the frame pixels that the bounds (x0, y0)-(x1, y1) touch and clears it; false when
// none do.
bool resetMask(CoverageMask& mask, double x0, double y0, double x1, double y1, int frameWidth, int frameHeight)
{
    mask.x = static_cast<int>(std::max(0.0, std::floor(x0)));
    mask.y = static_cast<int>(std::max(0.0, std::floor(y0)));
    mask.width = static_cast<int>(std::min<double>(frameWidth, std::ceil(x1))) - mask.x;
    mask.height = static_cast<int>(std::min<double>(frameHeight, std::ceil(y1))) - mask.y;
    if (mask.empty()) {
        mask.width = mask.height = 0;
        return false;
    }
    mask.stride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, mask.width);
    mask.alpha.assign(static_cast<std::size_t>(mask.stride) * mask.height, 0);
    return true;
}

// A Cairo context drawing into `mask` in frame coordinates, fully opaque, for one shape.
class MaskContext {
public:
    explicit MaskContext(CoverageMask& mask)
        : surface_(cairo_image_surface_create_for_data(mask.alpha.data(), CAIRO_FORMAT_A8, mask.width,
                                                       mask.height, mask.stride)),
          cr_(cairo_create(surface_))
    {
        cairo_translate(cr_, -mask.x, -mask.y);
        cairo_set_source_rgba(cr_, 0, 0, 0, 1);
    }
    ~MaskContext()
    {
        cairo_destroy(cr_);
        cairo_surface_flush(surface_);
        cairo_surface_destroy(surface_);
    }
    MaskContext(const MaskContext&) = delete;
    MaskContext& operator=(const MaskContext&) = delete;
    cairo_t* get() const { return cr_; }

private:
    cairo_surface_t* surface_;
    cairo_t* cr_;
};

// `text` as valid UTF-8 for Pango, which warns on standard error about anything else: every invalid
// sequence and every NUL byte becomes U+FFFD.
std::string validText(const std::string& text)
{
    std::string noNul;
    noNul.reserve(text.size());
    for (char ch : text) {
        if (ch == '\0') {
            noNul += "\xEF\xBF\xBD";
        } else {
            noNul += ch;
        }
    }
    if (g_utf8_validate(noNul.data(), static_cast<gssize>(noNul.size()), nullptr)) return noNul;
    gchar* valid = g_utf8_make_valid(noNul.data(), static_cast<gssize>(noNul.size()));
    std::string result(valid);
    g_free(valid);
    return result;
}

}  // namespace

// The font map, its context and one layout per text size, made once and used for every frame.
struct CoveragePainter::Fonts {
    PangoFontMap* map = nullptr;
    PangoContext* context = nullptr;
    std::vector<std::pair<double, PangoLayout*>> layouts;

    Fonts()
    {
        map = pango_cairo_font_map_new();
        context = pango_font_map_create_context(map);
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);  // masks carry one coverage per pixel
        pango_cairo_context_set_font_options(context, options);
        cairo_font_options_destroy(options);
    }
    ~Fonts()
    {
        for (auto& entry : layouts) g_object_unref(entry.second);
        g_object_unref(context);
        g_object_unref(map);
    }
    Fonts(const Fonts&) = delete;
    Fonts& operator=(const Fonts&) = delete;

    // The layout for `sizePx` holding `text`, with its logical and ink rectangles in pixels.
    PangoLayout* layout(const std::string& text, double sizePx, PangoRectangle& ink, PangoRectangle& logical)
    {
        auto found = std::find_if(layouts.begin(), layouts.end(), [&](const auto& e) { return e.first == sizePx; });
        PangoLayout* l = nullptr;
        if (found != layouts.end()) {
            l = found->second;
        } else {
            l = pango_layout_new(context);
            PangoFontDescription* face = pango_font_description_from_string("sans");
            pango_font_description_set_absolute_size(face, sizePx * PANGO_SCALE);
            pango_layout_set_font_description(l, face);
            pango_font_description_free(face);
            layouts.emplace_back(sizePx, l);
        }
        const std::string valid = validText(text);
        if (valid != pango_layout_get_text(l)) pango_layout_set_text(l, valid.data(), static_cast<int>(valid.size()));
        pango_layout_get_extents(l, &ink, &logical);
        return l;
    }
};

CoveragePainter::CoveragePainter() : fonts_(std::make_unique<Fonts>()) {}
CoveragePainter::~CoveragePainter() = default;

double CoveragePainter::textWidth(const std::string& text, double sizePx)
{
    PangoRectangle ink, logical;
    fonts_->layout(text, sizePx, ink, logical);
    return static_cast<double>(logical.width) / PANGO_SCALE;
}

double CoveragePainter::textPosition(const std::string& text, double sizePx, std::size_t index)
{
    PangoRectangle ink, logical, place;
    PangoLayout* layout = fonts_->layout(text, sizePx, ink, logical);
    pango_layout_index_to_pos(layout, static_cast<int>(std::min<std::size_t>(index, text.size())), &place);
    // place.x is the cluster's leading edge in either direction.
    return static_cast<double>(place.x - logical.x) / PANGO_SCALE;
}

void CoveragePainter::text(CoverageMask& mask, const std::string& text, double sizePx, double left,
                           double bottom, int frameWidth, int frameHeight)
{
    PangoRectangle ink, logical;
    PangoLayout* layout = fonts_->layout(text, sizePx, ink, logical);
    constexpr double scale = PANGO_SCALE;
    const double originX = left - logical.x / scale;
    const double originY = bottom - (logical.y + logical.height) / scale;
    constexpr double margin = 2;  // hinting and antialiasing may reach a little past the ink rectangle
    const double x0 = originX + ink.x / scale - margin, x1 = originX + (ink.x + ink.width) / scale + margin;
    const double y0 = originY + ink.y / scale - margin, y1 = originY + (ink.y + ink.height) / scale + margin;
    if (text.empty() || ink.width <= 0 || !drawable({x0, x1, y0, y1})
        || !resetMask(mask, x0, y0, x1, y1, frameWidth, frameHeight)) {
        mask.width = mask.height = 0;
        return;
    }
    {
        MaskContext cr(mask);
        cairo_move_to(cr.get(), originX, originY);
        pango_cairo_show_layout(cr.get(), layout);
    }
    mask.findSpans();
}

void CoveragePainter::ellipse(CoverageMask& mask, double left, double top, double width, double height,
                              int frameWidth, int frameHeight)
{
    if (!(width > 0 && height > 0) || !drawable({left, top, left + width, top + height})
        || !resetMask(mask, left, top, left + width, top + height, frameWidth, frameHeight)) {
        mask.width = mask.height = 0;
        return;
    }
    {
        MaskContext cr(mask);
        cairo_save(cr.get());
        cairo_translate(cr.get(), left + width / 2, top + height / 2);
        cairo_scale(cr.get(), width / 2, height / 2);
        cairo_arc(cr.get(), 0, 0, 1, 0, 2 * M_PI);
        cairo_restore(cr.get());
        cairo_fill(cr.get());
    }
    mask.findSpans();
}

void CoveragePainter::rectangle(CoverageMask& mask, double left, double top, double right, double bottom,
                                int frameWidth, int frameHeight)
{
    if (!drawable({left, top, right, bottom})) {
        mask.width = mask.height = 0;
        return;
    }
    const double x0 = std::round(left), y0 = std::round(top), x1 = std::round(right), y1 = std::round(bottom);
    if (!(x1 > x0 && y1 > y0) || !resetMask(mask, x0, y0, x1, y1, frameWidth, frameHeight)) {
        mask.width = mask.height = 0;
        return;
    }
    for (int row = 0; row < mask.height; ++row) {
        std::fill_n(mask.alpha.begin() + static_cast<std::ptrdiff_t>(row) * mask.stride, mask.width, 255);
    }
    mask.findSpans();
}

void CoveragePainter::mark(CoverageMask& mask, double cx, double cy, double arm, double dot, double ring,
                           double lineWidth, int frameWidth, int frameHeight)
{
    const double reach = std::max({arm, dot, ring}) + lineWidth / 2 + 1;
    if (!(arm >= 0 && dot >= 0 && ring >= 0 && lineWidth > 0)
        || !drawable({cx - reach, cx + reach, cy - reach, cy + reach})
        || !resetMask(mask, cx - reach, cy - reach, cx + reach, cy + reach, frameWidth, frameHeight)) {
        mask.width = mask.height = 0;
        return;
    }
    {
        MaskContext cr(mask);
        cairo_t* c = cr.get();
        cairo_set_line_width(c, lineWidth);
        cairo_move_to(c, cx - arm, cy);
        cairo_line_to(c, cx + arm, cy);
        cairo_move_to(c, cx, cy + arm);  // frame rows run downwards: this is the arm's lower end
        cairo_line_to(c, cx, cy - arm);
        cairo_new_sub_path(c);
        cairo_arc(c, cx, cy, dot, 0, 2 * M_PI);
        cairo_new_sub_path(c);
        cairo_arc(c, cx, cy, ring, 0, 2 * M_PI);
        cairo_stroke(c);
    }
    mask.findSpans();
}

}  // namespace pp
