#include "input/drag.hpp"

#include <cmath>

namespace pp {

bool insideMark(const PatchView& view, Point p)
{
    const double cx = view.patch.x + view.patch.width / 2;
    const double cy = view.patch.y + view.patch.height / 2;
    return std::hypot(p.x - cx, p.y - cy) <= view.markRing();
}

void press(PatchView& view, Point p)
{
    view.dragged = false;
    if (view.mark && insideMark(view, p)) {
        view.dragFrom = p;
    } else {
        view.dragFrom.reset();
    }
    view.dragOrigin = view.patch;
}

bool dragTo(PatchView& view, Point p)
{
    if (!view.dragFrom) return false;
    const double dx = p.x - view.dragFrom->x;
    const double dy = p.y - view.dragFrom->y;
    if (std::fabs(dx) + std::fabs(dy) > DRAG_THRESHOLD) view.dragged = true;
    view.patch = view.dragOrigin;
    view.patch.x += dx;
    view.patch.y += dy;
    return true;
}

std::string release(PatchView& view, const Geometry& geometry)
{
    std::string line = view.dragged ? positionLine(view, geometry) : "key space";
    view.dragFrom.reset();
    view.dragged = false;
    return line;
}

InputOutcome pointerAction(PatchView& view, const PointerEvent& event, const Geometry& geometry)
{
    InputOutcome outcome;
    switch (event.kind) {
    case PointerEvent::Kind::press:
        press(view, event.location);
        break;
    case PointerEvent::Kind::drag:
        outcome.repaint = dragTo(view, event.location);
        break;
    case PointerEvent::Kind::release:
        outcome.line = release(view, geometry);
        break;
    }
    return outcome;
}

std::string positionLine(const PatchView& view, const Geometry& geometry)
{
    return "position " + position(view.patch, geometry.sw, geometry.sh);
}

}  // namespace pp
