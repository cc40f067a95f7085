#include "input/nudge.hpp"

#include "input/drag.hpp"

namespace pp {

std::optional<std::string> nudge(PatchView& view, int dx, int dy, bool fine, const Geometry& geometry)
{
    if (!view.mark) return std::nullopt;
    const double step = (fine ? FINE_NUDGE_MM : NUDGE_MM) * view.ppmm;
    view.patch.x += dx * step;
    view.patch.y += dy * step;
    return positionLine(view, geometry);
}

}  // namespace pp
