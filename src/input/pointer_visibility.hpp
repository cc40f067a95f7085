// The pointer's visibility, kept balanced: at most one hide is ever outstanding and one show undoes it.
#pragma once

#include "core/thread_rules.hpp"
#include "platform/window_system.hpp"

namespace pp {

// Main thread only.
class PointerVisibility {
public:
    // `hidden`: whether the window's pointer is hidden now (a created window starts with it hidden).
    explicit PointerVisibility(Window& window, bool hidden = true);

    // Shows (true) or hides (false) the pointer; a repeated show or hide does nothing.
    void showCursor(bool show);

    bool cursorHidden() const { return cursorHidden_; }

private:
    Window& window_;
    bool cursorHidden_;
    OwnThread thread_;  // the main thread, checked in debug builds
};

}  // namespace pp
