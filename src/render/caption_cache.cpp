#include "render/caption_cache.hpp"

#include <glib.h>

#include <algorithm>
#include <cmath>

namespace pp {

namespace {

// No character that is not zero-width advances less than this at caption sizes (a hair space is
// about twice as wide), so this many pixels per character bound what a screen can show.
constexpr double MIN_ADVANCE_PX = 0.5;
// Characters laid out beyond the screen's reach, so that shaping at the screen's edges sees the same
// neighbours as in a full layout.
constexpr std::size_t EDGE_CHARACTERS = 16;
constexpr std::size_t WALK_FACTOR = 64;

bool zeroWidth(std::string_view text, std::size_t at)
{
    return g_unichar_iszerowidth(g_utf8_get_char(text.data() + at));
}

// The character boundary at or before `at`.
std::size_t boundaryBefore(std::string_view text, std::size_t at)
{
    while (at > 0 && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
    return at;
}

// `text` with NUL bytes as U+FFFD (Pango takes text up to a NUL), and where `index` lands in it.
std::string layoutText(std::string_view text, std::size_t& index)
{
    std::string out;
    out.reserve(text.size());
    std::size_t moved = index;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\0') {
            out += "\xEF\xBF\xBD";
            if (i < index) moved += 2;
        } else {
            out += text[i];
        }
    }
    index = moved;
    return out;
}

}  // namespace

CaptionWindow captionWindow(std::string_view caption, std::size_t reach)
{
    CaptionWindow w;
    w.middle = boundaryBefore(caption, caption.size() / 2);
    const std::size_t walkLimit = reach * WALK_FACTOR;

    // Backwards from the middle.
    std::size_t begin = w.middle, counted = 0, walked = 0;
    while (begin > 0 && counted < reach && walked < walkLimit) {
        begin = boundaryBefore(caption, begin - 1);
        if (!zeroWidth(caption, begin)) ++counted;
        ++walked;
    }
    // Forwards from the middle.
    std::size_t end = w.middle;
    counted = walked = 0;
    while (end < caption.size() && counted < reach && walked < walkLimit) {
        if (!zeroWidth(caption, end)) ++counted;
        end = static_cast<std::size_t>(g_utf8_next_char(caption.data() + end) - caption.data());
        ++walked;
    }
    end = std::min(end, caption.size());
    w.begin = begin;
    w.end = end;
    w.whole = begin == 0 && end == caption.size();
    return w;
}

const CoverageMask& CaptionCache::mask(CoveragePainter& painter, const std::string& caption, double sizePx,
                                       double centreX, double bottom, int frameWidth, int frameHeight)
{
    if (caption.empty()) {
        if (!mask_.empty()) ++version_;
        mask_.width = mask_.height = 0;
        drawn_ = false;
        return mask_;
    }
    // The screen shows at most this far from the centre, on either side.
    const double reachPx = std::max({double(frameWidth), std::fabs(centreX), std::fabs(frameWidth - centreX)});
    const double reachChars = std::ceil(reachPx / MIN_ADVANCE_PX) + EDGE_CHARACTERS;
    const auto reach = static_cast<std::size_t>(std::min(reachChars, double(caption.size())));
    const CaptionWindow window = captionWindow(caption, reach);

    Key key;
    key.middle = window.middle - window.begin;
    key.text = layoutText(std::string_view(caption).substr(window.begin, window.end - window.begin), key.middle);
    key.whole = window.whole;
    key.sizePx = sizePx;
    key.centreX = centreX;
    key.bottom = bottom;
    key.frameWidth = frameWidth;
    key.frameHeight = frameHeight;
    if (drawn_ && key == key_) return mask_;

    // A whole caption is centred on its width; a window puts the caption's middle at the centre.
    const double left = key.whole ? centreX - painter.textWidth(key.text, sizePx) / 2
                                  : centreX - painter.textPosition(key.text, sizePx, key.middle);
    painter.text(mask_, key.text, sizePx, left, bottom, frameWidth, frameHeight);
    key_ = std::move(key);
    drawn_ = true;
    ++version_;
    return mask_;
}

}  // namespace pp
