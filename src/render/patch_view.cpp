#include "render/patch_view.hpp"

#include <algorithm>

namespace pp {

double PatchView::markRing() const
{
    return std::max(patch.width, patch.height) / 2 + MARK_MARGIN_MM * ppmm;
}

}  // namespace pp
