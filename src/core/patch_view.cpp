#include "core/patch_view.hpp"

#include <algorithm>

namespace pp {

std::string_view modeName(Mode mode)
{
    switch (mode) {
    case Mode::flat: return "flat";
    case Mode::dither: return "dither";
    case Mode::deep: return "deep";
    }
    return "dither";
}

std::optional<Mode> modeWord(std::string_view word)
{
    for (Mode mode : {Mode::flat, Mode::dither, Mode::deep}) {
        if (word == modeName(mode)) return mode;
    }
    return std::nullopt;
}

double PatchView::markRing() const
{
    return std::max(patch.width, patch.height) / 2 + MARK_MARGIN_MM * ppmm;
}

}  // namespace pp
