// The keys of the patch window: arrows nudge, Return, space and keypad Enter signal, Escape ends.
#pragma once

#include <string_view>

#include "core/geometry.hpp"
#include "core/patch_view.hpp"
#include "core/values.hpp"
#include "input/input_outcome.hpp"

namespace pp {

enum class KeyAction { none, left, right, down, up, signal, close };

// The action of a key, looked up by its key symbol's name ("Left", "space", "Escape", ...); exact and
// case-sensitive, anything else is none.
KeyAction keyActionOf(std::string_view keysym);

// One key press applied to the view: the nudge and its position line, "key space", or "closed"
// followed by the end of the process.
InputOutcome keyAction(PatchView& view, const KeyEvent& event, const Geometry& geometry);

}  // namespace pp
