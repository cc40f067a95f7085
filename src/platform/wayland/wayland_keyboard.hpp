// The seat's keyboard: key symbols through xkbcommon, with key repeat at the compositor's rate.
#pragma once

#include <cstdint>
#include <functional>

#include "core/values.hpp"

struct wl_keyboard;
struct xkb_context;
struct xkb_keymap;
struct xkb_state;

namespace pp::wayland {

// Turns wl_keyboard events into KeyEvents named by key symbol ("Left", "Return", "KP_Enter", ...) with
// Shift from the modifier state, the same names the X11 keyboard gives. A held key that repeats is
// delivered again after the compositor's delay and then at its rate, driven by a timer descriptor that
// the main loop polls. Main thread only.
class WaylandKeyboard {
public:
    explicit WaylandKeyboard(std::function<void(const KeyEvent&)> deliver);
    ~WaylandKeyboard();
    WaylandKeyboard(const WaylandKeyboard&) = delete;
    WaylandKeyboard& operator=(const WaylandKeyboard&) = delete;

    // Follows `keyboard` from now on (none: stop following); the previous one is released.
    void follow(wl_keyboard* keyboard);
    bool following() const { return keyboard_ != nullptr; }

    // Readable when a repeat is due; the loop then calls repeatDue().
    int repeatFd() const { return timer_; }
    void repeatDue();

private:
    friend struct KeyboardListeners;
    void keymap(std::uint32_t format, int fd, std::uint32_t size);
    void key(std::uint32_t key, bool pressed);
    void stopRepeat();
    void armTimer(int firstMs, int intervalMs);
    void deliverKey(std::uint32_t key);

    std::function<void(const KeyEvent&)> deliver_;
    wl_keyboard* keyboard_ = nullptr;
    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* state_ = nullptr;
    int timer_ = -1;
    int rate_ = 25;     // repeats per second; 0: no repeat
    int delay_ = 600;   // milliseconds before the first repeat
    std::uint32_t repeating_ = 0;  // the evdev key code that repeats; 0 for none
};

}  // namespace pp::wayland
