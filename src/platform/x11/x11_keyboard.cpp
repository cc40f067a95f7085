#include "platform/x11/x11_keyboard.hpp"

#define explicit explicit_  // xkb.h names a member "explicit"
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdarg>
#include <cstdlib>

#include "platform/x11/x11_conversions.hpp"

namespace pp::x11 {

namespace {

// xkbcommon reports problems through its log; nothing of ours goes to standard error.
void discardLog(xkb_context*, xkb_log_level, const char*, va_list) {}

// The fields every XKB event starts with.
struct XkbAnyEvent {
    std::uint8_t response_type;
    std::uint8_t xkbType;
    std::uint16_t sequence;
    xcb_timestamp_t time;
    std::uint8_t deviceID;
};

}  // namespace

X11Keyboard::X11Keyboard(xcb_connection_t* connection) : connection_(connection)
{
    if (!xkb_x11_setup_xkb_extension(connection_, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &xkbEventBase_,
                                     nullptr)) {
        loadCoreMapping();
        return;
    }
    deviceId_ = xkb_x11_get_core_keyboard_device_id(connection_);
    // A keymap read from the server needs no include paths and no names from the environment.
    context_ = xkb_context_new(xkb_context_flags(XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    if (deviceId_ < 0 || !context_) {
        loadCoreMapping();
        return;
    }
    xkb_context_set_log_fn(context_, discardLog);

    // Keymap changes and every change of the modifier and group state.
    constexpr std::uint16_t EVENTS =
        XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY | XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
    constexpr std::uint16_t MAP_PARTS =
        XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
        XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS | XCB_XKB_MAP_PART_VIRTUAL_MODS |
        XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    constexpr std::uint16_t STATE_DETAILS =
        XCB_XKB_STATE_PART_MODIFIER_BASE | XCB_XKB_STATE_PART_MODIFIER_LATCH | XCB_XKB_STATE_PART_MODIFIER_LOCK |
        XCB_XKB_STATE_PART_GROUP_BASE | XCB_XKB_STATE_PART_GROUP_LATCH | XCB_XKB_STATE_PART_GROUP_LOCK;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.affectState = STATE_DETAILS;
    details.stateDetails = STATE_DETAILS;
    xcb_xkb_select_events_aux(connection_, static_cast<xcb_xkb_device_spec_t>(deviceId_), EVENTS, 0, 0, MAP_PARTS,
                              MAP_PARTS, &details);
    loadKeymap();
    if (!state_) loadCoreMapping();
}

X11Keyboard::~X11Keyboard()
{
    if (state_) xkb_state_unref(state_);
    if (keymap_) xkb_keymap_unref(keymap_);
    if (context_) xkb_context_unref(context_);
}

// Reads the keymap and the current state afresh; keeps the old ones when the server gives none.
void X11Keyboard::loadKeymap()
{
    xkb_keymap* keymap = xkb_x11_keymap_new_from_device(context_, connection_, deviceId_, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) return;
    xkb_state* state = xkb_x11_state_new_from_device(keymap, connection_, deviceId_);
    if (!state) {
        xkb_keymap_unref(keymap);
        return;
    }
    if (state_) xkb_state_unref(state_);
    if (keymap_) xkb_keymap_unref(keymap_);
    keymap_ = keymap;
    state_ = state;
}

void X11Keyboard::loadCoreMapping()
{
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    firstKeycode_ = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
        connection_, xcb_get_keyboard_mapping(connection_, setup->min_keycode, static_cast<std::uint8_t>(count)),
        nullptr);
    if (!reply) return;
    const xcb_keysym_t* symbols = xcb_get_keyboard_mapping_keysyms(reply);
    coreSymbols_.assign(symbols, symbols + xcb_get_keyboard_mapping_keysyms_length(reply));
    symbolsPerKey_ = reply->keysyms_per_keycode;
    std::free(reply);
}

bool X11Keyboard::handleEvent(const xcb_generic_event_t& event)
{
    const std::uint8_t type = event.response_type & 0x7F;
    if (!state_) {
        if (type != XCB_MAPPING_NOTIFY) return false;
        const auto& mapping = reinterpret_cast<const xcb_mapping_notify_event_t&>(event);
        if (mapping.request == XCB_MAPPING_KEYBOARD) loadCoreMapping();
        return true;
    }
    if (type != xkbEventBase_) return false;
    const auto& any = reinterpret_cast<const XkbAnyEvent&>(event);
    if (any.deviceID != deviceId_) return true;
    switch (any.xkbType) {
    case XCB_XKB_NEW_KEYBOARD_NOTIFY: {
        const auto& e = reinterpret_cast<const xcb_xkb_new_keyboard_notify_event_t&>(event);
        if (e.changed & XCB_XKB_NKN_DETAIL_KEYCODES) loadKeymap();
        break;
    }
    case XCB_XKB_MAP_NOTIFY:
        loadKeymap();
        break;
    case XCB_XKB_STATE_NOTIFY: {
        const auto& e = reinterpret_cast<const xcb_xkb_state_notify_event_t&>(event);
        xkb_state_update_mask(state_, e.baseMods, e.latchedMods, e.lockedMods, static_cast<xkb_layout_index_t>(e.baseGroup),
                              static_cast<xkb_layout_index_t>(e.latchedGroup), e.lockedGroup);
        break;
    }
    default:
        break;
    }
    return true;
}

std::optional<KeyEvent> X11Keyboard::keyEvent(const xcb_key_press_event_t& event)
{
    const bool shift = (event.state & XCB_MOD_MASK_SHIFT) != 0;
    xkb_keysym_t symbol = XKB_KEY_NoSymbol;
    if (state_) {
        symbol = xkb_state_key_get_one_sym(state_, event.detail);
    } else if (symbolsPerKey_ > 0) {
        const std::size_t at = std::size_t(event.detail - firstKeycode_) * std::size_t(symbolsPerKey_);
        if (event.detail >= firstKeycode_ && at + std::size_t(symbolsPerKey_) <= coreSymbols_.size()) {
            symbol = coreKeysym(coreSymbols_.data() + at, symbolsPerKey_, shift);
        }
    }
    if (symbol == XKB_KEY_NoSymbol) return std::nullopt;
    char name[64];
    if (xkb_keysym_get_name(symbol, name, sizeof name) <= 0) return std::nullopt;
    return KeyEvent{name, shift};
}

}  // namespace pp::x11
