#include "input/key_actions.hpp"

#include <array>
#include <utility>

#include "input/nudge.hpp"

namespace pp {

namespace {

constexpr std::array<std::pair<std::string_view, KeyAction>, 8> KEY_TABLE{{
    {"Left", KeyAction::left},
    {"Right", KeyAction::right},
    {"Down", KeyAction::down},
    {"Up", KeyAction::up},
    {"Return", KeyAction::signal},
    {"space", KeyAction::signal},
    {"KP_Enter", KeyAction::signal},
    {"Escape", KeyAction::close},
}};

}  // namespace

KeyAction keyActionOf(std::string_view keysym)
{
    for (const auto& [name, action] : KEY_TABLE) {
        if (name == keysym) return action;
    }
    return KeyAction::none;
}

InputOutcome keyAction(PatchView& view, const KeyEvent& event, const Geometry& geometry)
{
    InputOutcome outcome;
    auto nudged = [&](int dx, int dy) {
        outcome.line = nudge(view, dx, dy, event.shift, geometry);
        outcome.repaint = outcome.line.has_value();
    };
    switch (keyActionOf(event.keysym)) {
    case KeyAction::left: nudged(-1, 0); break;
    case KeyAction::right: nudged(1, 0); break;
    case KeyAction::down: nudged(0, -1); break;
    case KeyAction::up: nudged(0, 1); break;
    case KeyAction::signal: outcome.line = "key space"; break;
    case KeyAction::close:
        outcome.line = "closed";
        outcome.end = true;
        break;
    case KeyAction::none: break;
    }
    return outcome;
}

}  // namespace pp
