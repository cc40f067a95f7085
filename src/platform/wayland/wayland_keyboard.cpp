#include "platform/wayland/wayland_keyboard.hpp"

#include <sys/mman.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdint>

namespace pp::wayland {

// xkbcommon numbers keys as X does: the evdev code plus 8.
constexpr std::uint32_t XKB_KEYCODE_OFFSET = 8;

struct KeyboardListeners {
    static WaylandKeyboard& of(void* data) { return *static_cast<WaylandKeyboard*>(data); }
    static void keymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd, std::uint32_t size)
    {
        of(data).keymap(format, fd, size);
    }
    static void enter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
    static void leave(void* data, wl_keyboard*, std::uint32_t, wl_surface*) { of(data).stopRepeat(); }
    static void key(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t key, std::uint32_t state)
    {
        of(data).key(key, state == WL_KEYBOARD_KEY_STATE_PRESSED);
    }
    static void modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed, std::uint32_t latched,
                          std::uint32_t locked, std::uint32_t group)
    {
        if (xkb_state* state = of(data).state_) xkb_state_update_mask(state, depressed, latched, locked, 0, 0, group);
    }
    static void repeatInfo(void* data, wl_keyboard*, std::int32_t rate, std::int32_t delay)
    {
        of(data).rate_ = rate < 0 ? 0 : rate;
        of(data).delay_ = delay < 0 ? 0 : delay;
    }
    static constexpr wl_keyboard_listener LISTENER = {keymap, enter, leave, key, modifiers, repeatInfo};
};

WaylandKeyboard::WaylandKeyboard(std::function<void(const KeyEvent&)> deliver)
    : deliver_(std::move(deliver)),
      context_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)),
      timer_(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK))
{
    // xkbcommon would log to standard error.
    if (context_) xkb_context_set_log_level(context_, XKB_LOG_LEVEL_CRITICAL);
    if (context_) xkb_context_set_log_fn(context_, [](xkb_context*, xkb_log_level, const char*, va_list) {});
}

WaylandKeyboard::~WaylandKeyboard()
{
    follow(nullptr);
    if (state_) xkb_state_unref(state_);
    if (keymap_) xkb_keymap_unref(keymap_);
    if (context_) xkb_context_unref(context_);
    if (timer_ >= 0) close(timer_);
}

void WaylandKeyboard::follow(wl_keyboard* keyboard)
{
    stopRepeat();
    if (keyboard_) {
        if (wl_keyboard_get_version(keyboard_) >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
            wl_keyboard_release(keyboard_);
        } else {
            wl_keyboard_destroy(keyboard_);
        }
    }
    keyboard_ = keyboard;
    if (keyboard_) wl_keyboard_add_listener(keyboard_, &KeyboardListeners::LISTENER, this);
}

void WaylandKeyboard::keymap(std::uint32_t format, int fd, std::uint32_t size)
{
    if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 || !context_ || size == 0) {
        close(fd);
        return;
    }
    void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (text == MAP_FAILED) return;
    xkb_keymap* keymap = xkb_keymap_new_from_buffer(context_, static_cast<const char*>(text), size - 1,
                                                    XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    munmap(text, size);
    if (!keymap) return;
    xkb_state* state = xkb_state_new(keymap);
    if (!state) {
        xkb_keymap_unref(keymap);
        return;
    }
    stopRepeat();
    if (state_) xkb_state_unref(state_);
    if (keymap_) xkb_keymap_unref(keymap_);
    keymap_ = keymap;
    state_ = state;
}

void WaylandKeyboard::deliverKey(std::uint32_t key)
{
    if (!state_) return;
    const xkb_keysym_t symbol = xkb_state_key_get_one_sym(state_, key + XKB_KEYCODE_OFFSET);
    if (symbol == XKB_KEY_NoSymbol) return;
    char name[64];
    if (xkb_keysym_get_name(symbol, name, sizeof name) <= 0) return;
    const bool shift = xkb_state_mod_name_is_active(state_, XKB_MOD_NAME_SHIFT, XKB_STATE_MODS_EFFECTIVE) > 0;
    deliver_(KeyEvent{name, shift});
}

void WaylandKeyboard::key(std::uint32_t key, bool pressed)
{
    if (!pressed) {
        if (key == repeating_) stopRepeat();
        return;
    }
    stopRepeat();
    if (keymap_ && rate_ > 0 && xkb_keymap_key_repeats(keymap_, key + XKB_KEYCODE_OFFSET)) {
        repeating_ = key;
        armTimer(delay_, 1000 / rate_);
    }
    deliverKey(key);
}

void WaylandKeyboard::repeatDue()
{
    std::uint64_t expirations = 0;
    if (read(timer_, &expirations, sizeof expirations) != sizeof expirations || repeating_ == 0) return;
    // A loop that fell behind delivers one repeat, not a burst.
    deliverKey(repeating_);
}

void WaylandKeyboard::stopRepeat()
{
    repeating_ = 0;
    armTimer(0, 0);
}

void WaylandKeyboard::armTimer(int firstMs, int intervalMs)
{
    if (timer_ < 0) return;
    itimerspec when{};
    if (firstMs > 0 || intervalMs > 0) {
        const int first = firstMs > 0 ? firstMs : 1;
        when.it_value = {first / 1000, long(first % 1000) * 1000000L};
        when.it_interval = {intervalMs / 1000, long(intervalMs % 1000) * 1000000L};
    }
    timerfd_settime(timer_, 0, &when, nullptr);
}

}  // namespace pp::wayland
