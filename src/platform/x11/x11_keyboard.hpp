// Key presses as key symbol names, from the server's keyboard description.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "core/values.hpp"

struct xkb_context;
struct xkb_keymap;
struct xkb_state;

namespace pp::x11 {

// Follows the core keyboard through XKB (its keymap and modifier state, kept current by XKB's notify
// events); without XKB it reads the core keyboard mapping. Main thread only.
class X11Keyboard {
public:
    // Does not take ownership of `connection`; selects the XKB events it needs.
    explicit X11Keyboard(xcb_connection_t* connection);
    ~X11Keyboard();
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;

    // Takes in an XKB event or a core MappingNotify; true when the event was one of those.
    bool handleEvent(const xcb_generic_event_t& event);

    // The key symbol name of a key press and whether Shift was held; none for a key without a symbol.
    std::optional<KeyEvent> keyEvent(const xcb_key_press_event_t& event);

    // Whether the keyboard is read through XKB (else through the core mapping).
    bool usesXkb() const { return state_ != nullptr; }

private:
    void loadKeymap();
    void loadCoreMapping();

    xcb_connection_t* connection_;
    std::uint8_t xkbEventBase_ = 0;
    std::int32_t deviceId_ = -1;
    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* state_ = nullptr;

    // The core mapping: `symbolsPerKey_` symbols for each key code from `firstKeycode_` on.
    std::vector<std::uint32_t> coreSymbols_;
    int symbolsPerKey_ = 0;
    int firstKeycode_ = 0;
};

}  // namespace pp::x11
