#include "input/pointer_visibility.hpp"

namespace pp {

PointerVisibility::PointerVisibility(Window& window, bool hidden) : window_(window), cursorHidden_(hidden) {}

void PointerVisibility::showCursor(bool show)
{
    PP_OWN_THREAD_ONLY(thread_);
    if (show && cursorHidden_) {
        window_.setPointerVisible(true);
        cursorHidden_ = false;
    } else if (!show && !cursorHidden_) {
        window_.setPointerVisible(false);
        cursorHidden_ = true;
    }
}

}  // namespace pp
