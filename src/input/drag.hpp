// Dragging the patch with the primary button while the mark is shown: press, move, release.
#pragma once

#include <string>

#include "core/geometry.hpp"
#include "core/patch_view.hpp"
#include "core/values.hpp"
#include "input/input_outcome.hpp"

namespace pp {

// The drag threshold: a drag is a displacement |dx| + |dy| strictly greater than this, in points.
inline constexpr double DRAG_THRESHOLD = 4;

// Whether `p` lies in the disc of radius markRing() about the patch centre, boundary included.
bool insideMark(const PatchView& view, Point p);

// The press at `p`: arms a drag when the mark is on and `p` is inside the ring.
void press(PatchView& view, Point p);

// A move with the button held to `p`: the patch follows the pointer from where the drag began.
// True when the patch moved (the view needs display).
bool dragTo(PatchView& view, Point p);

// The release: the position line after a drag past the threshold, "key space" otherwise.
std::string release(PatchView& view, const Geometry& geometry);

// One pointer event applied to the view.
InputOutcome pointerAction(PatchView& view, const PointerEvent& event, const Geometry& geometry);

// "position " followed by the position text of the view's patch.
std::string positionLine(const PatchView& view, const Geometry& geometry);

}  // namespace pp
