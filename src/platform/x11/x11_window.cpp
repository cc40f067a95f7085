#include "platform/x11/x11_window.hpp"

#include <xcb/randr.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "platform/x11/x11_conversions.hpp"
#include "platform/x11/x11_displays.hpp"
#include "platform/session/screen_saver_inhibit.hpp"
#include "platform/x11/x11_screen_blanking.hpp"
#include "platform/update_area.hpp"

namespace pp::x11 {

namespace {

constexpr std::string_view WINDOW_NAME = "patch-presenter";
constexpr std::string_view WINDOW_CLASS{"patch-presenter\0patch-presenter", 31};

// How long a frame may take to reach the screen through a compositing manager before the reply goes
// out anyway.
constexpr auto COMPOSITOR_LIMIT = std::chrono::milliseconds(200);

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> owned(T* pointer)
{
    return Reply<T>(pointer, &std::free);
}

const xcb_visualtype_t* rootVisual(const xcb_screen_t* screen)
{
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
            if (v.data->visual_id == screen->root_visual) return v.data;
        }
    }
    return nullptr;
}

xcb_atom_t internAtom(xcb_connection_t* c, xcb_intern_atom_cookie_t cookie)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

xcb_intern_atom_cookie_t askAtom(xcb_connection_t* c, std::string_view name)
{
    return xcb_intern_atom(c, 0, std::uint16_t(name.size()), name.data());
}

void setText(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type, std::string_view text)
{
    if (property == XCB_ATOM_NONE || type == XCB_ATOM_NONE) return;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, property, type, 8, std::uint32_t(text.size()), text.data());
}

}  // namespace

std::unique_ptr<X11Window> X11Window::create(xcb_connection_t* c, X11MainLoop& loop, const Screen& output,
                                             PresentationPath preferred)
{
    const Rect& frame = output.frame;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_visualtype_t* visual = rootVisual(screen);
    if (!visual || visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR) return nullptr;
    const auto format = pixelFormatFor(screen->root_depth, visual->red_mask, visual->green_mask, visual->blue_mask);
    const int width = int(frame.width);
    const int height = int(frame.height);
    if (!format || width <= 0 || height <= 0) return nullptr;

    const auto nameAtom = askAtom(c, "_NET_WM_NAME");
    const auto utf8Atom = askAtom(c, "UTF8_STRING");

    // No background: the server never paints the window itself, so nothing flashes before a frame.
    const xcb_window_t id = xcb_generate_id(c);
    const std::uint32_t mask =
        XCB_CW_BACK_PIXMAP | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK | XCB_CW_COLORMAP;
    const std::uint32_t events = XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_VISIBILITY_CHANGE |
                                 XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_KEY_PRESS |
                                 XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                                 XCB_EVENT_MASK_BUTTON_1_MOTION;
    const std::uint32_t values[] = {XCB_BACK_PIXMAP_NONE, 0, 1, events, screen->default_colormap};
    const auto made = xcb_create_window_checked(c, screen->root_depth, id, screen->root, std::int16_t(frame.x),
                                                std::int16_t(frame.y), std::uint16_t(width), std::uint16_t(height),
                                                0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, mask, values);
    xcb_generic_error_t* error = xcb_request_check(c, made);
    if (error || xcb_connection_has_error(c)) {
        std::free(error);
        internAtom(c, nameAtom);
        internAtom(c, utf8Atom);
        return nullptr;
    }

    setText(c, id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, WINDOW_NAME);
    setText(c, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, WINDOW_CLASS);
    setText(c, id, internAtom(c, nameAtom), internAtom(c, utf8Atom), WINDOW_NAME);

    askCompositorsToStayAway(c, id);

    std::unique_ptr<X11Window> window(new X11Window(c, loop, id, output));
    window->presentation_ = makePresentation(c, id, width, height, screen->root_depth, *format, preferred);
    if (!window->presentation_) return nullptr;
    window->hidePointer();

    // Changes to the outputs are watched on the root: the window's own events do not tell them.
    if (const auto* randr = xcb_get_extension_data(c, &xcb_randr_id); randr && randr->present) {
        window->randrEvents_ = randr->first_event;
        xcb_randr_select_input(c, screen->root,
                               XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                   XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
    }
    keepScreenAwake(c);
    session::inhibitSessionScreenSaver();

    xcb_map_window(c, id);
    window->raiseAndFocus();
    // Once this is answered the window is mapped and its first Expose is queued.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    loop.setTarget(window.get());
    loop.requestPaint();
    return window;
}

X11Window::X11Window(xcb_connection_t* connection, X11MainLoop& loop, xcb_window_t window, const Screen& screen)
    : connection_(connection), loop_(loop), window_(window),
      root_(xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root), screen_(screen),
      width_(int(screen.frame.width)), height_(int(screen.frame.height)), keyboard_(connection),
      compositor_(connection, window)
{
    auto cookie = xcb_xfixes_query_version(connection_, 4, 0);
    xcb_xfixes_query_version_reply_t* version = xcb_xfixes_query_version_reply(connection_, cookie, nullptr);
    xfixes_ = version && version->major_version >= 4;
    if (version) compositor_.watchOwner();
    std::free(version);
}

X11Window::~X11Window()
{
    if (loop_.target() == this) loop_.setTarget(nullptr);
    presentation_.reset();
    while (hidden_ > 0) showPointer();
    if (blankCursor_ != XCB_NONE) xcb_free_cursor(connection_, blankCursor_);
    if (clearGc_ != XCB_NONE) xcb_free_gc(connection_, clearGc_);
    xcb_destroy_window(connection_, window_);
    xcb_flush(connection_);
}

FrameBuffer X11Window::frame()
{
    PP_MAIN_THREAD_ONLY(loop_);
    const FrameBuffer frame = presentation_->frame();
    blankFrame_ = frame.blank;
    return frame;
}

void X11Window::present(std::span<const PixelRect> changed)
{
    PP_MAIN_THREAD_ONLY(loop_);
    // A frame that cannot reach the server is not on the screen: the work that drew it has not
    // been done, and the loop ends.
    const auto lost = [this] {
        if (!xcb_connection_has_error(connection_)) return false;
        loop_.endWith(MainLoop::DISPLAY_CONNECTION_LOST);
        return true;
    };
    if (loop_.ended()) return;
    // What the server has sent so far says whether the window may have been moved, covered or
    // unmapped; only then (or under a compositing manager, whose redirection no event tells) is the
    // server asked where it is, so that no round trip stands between the command and the frame.
    const auto sent = loop_.holdSentEvents();
    for (const xcb_generic_event_t* event : sent) notePlacement(*event);
    if (lost() || !outputUnchangedAfter(sent)) return;
    if ((!placeKnown_ || !compositor_.knownUnmanaged()) && !keepInPlace()) {
        lost();
        return;
    }
    // A frame drawn on a blank buffer is the window cleared to 0 and what the frame changed: the
    // server fills the rest, nothing of it is copied.
    if (std::exchange(blankFrame_, false)) {
        const std::uint32_t zero = 0;
        if (clearGc_ == XCB_NONE) {
            clearGc_ = xcb_generate_id(connection_);
            xcb_create_gc(connection_, clearGc_, window_, XCB_GC_FOREGROUND, &zero);
        }
        const xcb_rectangle_t all{0, 0, std::uint16_t(width_), std::uint16_t(height_)};
        xcb_poly_fill_rectangle(connection_, window_, clearGc_, 1, &all);
        wholeWindow_ = false;
    }
    presentation_->present(updateArea(changed, std::exchange(wholeWindow_, false)));
    if (lost()) return;
    // Events read while the frame went out tell whether the output changed before it was shown.
    if (!outputUnchangedAfter(loop_.holdQueuedEvents())) return;
    // Asked once the frame is in the window: a manager may have begun redirecting it meanwhile.
    if (compositor_.redirected()) {
        const std::uint32_t mask = screen_.depth == 30 ? 0x3FFFFFFFu : 0x00FFFFFFu;
        compositor_.waitUntilShown(int(screen_.frame.x), int(screen_.frame.y), width_, height_,
                                   presentation_->shownPixels(), width_, mask, COMPOSITOR_LIMIT);
    }
}

// Puts the window back where the report says it is (mapped, a child of the root over the output,
// on top) when another client has changed it. False, with the loop ending, when the window is gone
// or its output changed.
bool X11Window::keepInPlace()
{
    xcb_connection_t* c = connection_;
    const auto attributesCookie = xcb_get_window_attributes(c, window_);
    const auto geometryCookie = xcb_get_geometry(c, window_);
    const auto treeCookie = xcb_query_tree(c, root_);
    compositor_.ask();
    xcb_generic_error_t* error = nullptr;
    auto attributes = owned(xcb_get_window_attributes_reply(c, attributesCookie, &error));
    auto geometry = owned(xcb_get_geometry_reply(c, geometryCookie, nullptr));
    auto tree = owned(xcb_query_tree_reply(c, treeCookie, nullptr));
    const bool gone = error != nullptr;
    std::free(error);
    if (xcb_connection_has_error(c)) return false;
    if (gone || !attributes || !geometry) {
        loop_.endWith(MainLoop::WINDOW_DESTROYED);
        return false;
    }
    // The replies came after every event the server sent before them: RandR's among them.
    if (!outputUnchangedAfter(loop_.holdQueuedEvents())) return false;

    bool onTop = false;
    bool childOfRoot = false;
    if (tree) {
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        const int count = xcb_query_tree_children_length(tree.get());
        childOfRoot = std::find(children, children + count, window_) != children + count;
        onTop = count > 0 && children[count - 1] == window_;
    }
    const auto x = std::int16_t(screen_.frame.x);
    const auto y = std::int16_t(screen_.frame.y);
    bool changed = false;
    if (!childOfRoot) {
        xcb_reparent_window(c, window_, root_, x, y);
        changed = true;
    }
    if (!childOfRoot || geometry->x != x || geometry->y != y || geometry->width != width_ ||
        geometry->height != height_ || geometry->border_width != 0) {
        const std::uint32_t place[] = {std::uint32_t(x), std::uint32_t(y), std::uint32_t(width_),
                                       std::uint32_t(height_), 0};
        xcb_configure_window(c, window_,
                             XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                 XCB_CONFIG_WINDOW_HEIGHT | XCB_CONFIG_WINDOW_BORDER_WIDTH,
                             place);
        changed = true;
    }
    if (!childOfRoot || attributes->map_state != XCB_MAP_STATE_VIEWABLE) {
        xcb_map_window(c, window_);
        changed = true;
    }
    // What was covered or unmapped shows garbage until the next frame presents the whole window.
    if (changed || !onTop) {
        raiseAndFocus();
        wholeWindow_ = true;
    }
    // What the changes made here bring back (a configure, a map) is seen again before the next frame.
    placeKnown_ = true;
    return true;
}

void X11Window::notePlacement(const xcb_generic_event_t& event)
{
    if (compositor_.ownerEvent(event)) {
        placeKnown_ = false;
        return;
    }
    switch (event.response_type & 0x7F) {
    case XCB_VISIBILITY_NOTIFY:
        if (reinterpret_cast<const xcb_visibility_notify_event_t&>(event).state != XCB_VISIBILITY_UNOBSCURED) {
            placeKnown_ = false;
        }
        break;
    case XCB_EXPOSE:
    case XCB_CONFIGURE_NOTIFY:
    case XCB_MAP_NOTIFY:
    case XCB_UNMAP_NOTIFY:
    case XCB_REPARENT_NOTIFY:
    case XCB_DESTROY_NOTIFY:
    case XCB_GRAVITY_NOTIFY:
    case XCB_CIRCULATE_NOTIFY:
        placeKnown_ = false;
        break;
    default:
        break;
    }
}

bool X11Window::isRandrChange(const xcb_generic_event_t& event) const
{
    if (randrEvents_ == 0) return false;
    const int type = event.response_type & 0x7F;
    return type == randrEvents_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY || type == randrEvents_ + XCB_RANDR_NOTIFY;
}

// Whether the output still is what the window was made for, looked up afresh only when one of
// `events` says RandR changed something; ends the loop when it is not.
bool X11Window::outputUnchangedAfter(const std::vector<const xcb_generic_event_t*>& events)
{
    bool destroyed = false;
    bool randr = false;
    for (const xcb_generic_event_t* event : events) {
        randr = randr || isRandrChange(*event);
        if ((event->response_type & 0x7F) == XCB_DESTROY_NOTIFY &&
            reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window == window_) {
            destroyed = true;
        }
    }
    if (destroyed) {
        loop_.endWith(MainLoop::WINDOW_DESTROYED);
        return false;
    }
    return !randr || outputUnchanged();
}

// Compares the output with what it was when the window was made: gone or no longer driven ends the
// loop with "error no screen N", any other change of place, mode or size with "error display changed".
bool X11Window::outputUnchanged()
{
    X11Displays displays(connection_);
    for (const Screen& now : displays.screens()) {
        if (now.number != screen_.number) continue;
        if (now.frame == screen_.frame && now.pixelsWide == screen_.pixelsWide &&
            now.pixelsHigh == screen_.pixelsHigh && now.mm == screen_.mm) {
            return true;
        }
        loop_.endWith(MainLoop::DISPLAY_CHANGED);
        return false;
    }
    if (xcb_connection_has_error(connection_)) return false;
    loop_.endWith(noScreenLine(screen_.number));
    return false;
}

void X11Window::setNeedsDisplay()
{
    loop_.requestPaint();
}

void X11Window::setPointerVisible(bool visible)
{
    if (visible) {
        showPointer();
    } else {
        hidePointer();
    }
    xcb_flush(connection_);
}

// Hides the pointer twice over: XFixes hides it on the screen, and the window's own cursor is a
// blank one, which every client that asks for the cursor image sees and which holds where XFixes is
// missing or ignored.
void X11Window::hidePointer()
{
    if (hidden_++ > 0) return;
    if (xfixes_) xcb_xfixes_hide_cursor(connection_, window_);
    if (blankCursor_ == XCB_NONE) {
        // A cursor whose mask shows none of its one pixel.
        const xcb_pixmap_t empty = xcb_generate_id(connection_);
        xcb_create_pixmap(connection_, 1, empty, window_, 1, 1);
        const xcb_gcontext_t gc = xcb_generate_id(connection_);
        const std::uint32_t zero = 0;
        xcb_create_gc(connection_, gc, empty, XCB_GC_FOREGROUND, &zero);
        const xcb_rectangle_t pixel{0, 0, 1, 1};
        xcb_poly_fill_rectangle(connection_, empty, gc, 1, &pixel);
        xcb_free_gc(connection_, gc);
        blankCursor_ = xcb_generate_id(connection_);
        xcb_create_cursor(connection_, blankCursor_, empty, empty, 0, 0, 0, 0, 0, 0, 0, 0);
        xcb_free_pixmap(connection_, empty);
    }
    xcb_change_window_attributes(connection_, window_, XCB_CW_CURSOR, &blankCursor_);
}

void X11Window::showPointer()
{
    if (hidden_ == 0 || --hidden_ > 0) return;
    if (xfixes_) xcb_xfixes_show_cursor(connection_, window_);
    const std::uint32_t none = XCB_NONE;
    xcb_change_window_attributes(connection_, window_, XCB_CW_CURSOR, &none);
}

void X11Window::raiseAndFocus()
{
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(connection_, window_, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_PARENT, window_, XCB_CURRENT_TIME);
}

void X11Window::handleEvent(const xcb_generic_event_t& event, EventHandler& handler)
{
    notePlacement(event);
    if (keyboard_.handleEvent(event)) return;
    switch (event.response_type & 0x7F) {
    case XCB_EXPOSE:
        wholeWindow_ = true;
        loop_.requestPaint();
        break;
    case XCB_VISIBILITY_NOTIFY: {
        const auto& e = reinterpret_cast<const xcb_visibility_notify_event_t&>(event);
        if (e.window == window_ && e.state != XCB_VISIBILITY_UNOBSCURED) {
            wholeWindow_ = true;
            const std::uint32_t above = XCB_STACK_MODE_ABOVE;
            xcb_configure_window(connection_, window_, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        }
        break;
    }
    case XCB_MAP_NOTIFY:
        if (reinterpret_cast<const xcb_map_notify_event_t&>(event).window == window_) raiseAndFocus();
        break;
    case XCB_DESTROY_NOTIFY:
        if (reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window == window_) {
            loop_.endWith(MainLoop::WINDOW_DESTROYED);
        }
        break;
    case XCB_UNMAP_NOTIFY:
        if (reinterpret_cast<const xcb_unmap_notify_event_t&>(event).window == window_ && keepInPlace()) {
            loop_.requestPaint();
        }
        break;
    case XCB_REPARENT_NOTIFY: {
        const auto& e = reinterpret_cast<const xcb_reparent_notify_event_t&>(event);
        if (e.window == window_ && e.parent != root_ && keepInPlace()) loop_.requestPaint();
        break;
    }
    case XCB_CONFIGURE_NOTIFY: {
        // Only a change of place or size: restacking is answered by the visibility events.
        const auto& e = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
        const bool placed = e.x == std::int16_t(screen_.frame.x) && e.y == std::int16_t(screen_.frame.y) &&
                            e.width == width_ && e.height == height_ && e.border_width == 0;
        if (e.window == window_ && !placed && keepInPlace()) loop_.requestPaint();
        break;
    }
    case XCB_KEY_PRESS:
        if (auto key = keyboard_.keyEvent(reinterpret_cast<const xcb_key_press_event_t&>(event))) handler.key(*key);
        break;
    case XCB_BUTTON_PRESS: {
        const auto& e = reinterpret_cast<const xcb_button_press_event_t&>(event);
        if (e.detail != 1) break;
        xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_PARENT, window_, XCB_CURRENT_TIME);
        handler.pointer({PointerEvent::Kind::press, viewPoint(e.event_x, e.event_y, height_)});
        break;
    }
    case XCB_MOTION_NOTIFY: {
        const auto& e = reinterpret_cast<const xcb_motion_notify_event_t&>(event);
        if (e.state & XCB_BUTTON_MASK_1) {
            handler.pointer({PointerEvent::Kind::drag, viewPoint(e.event_x, e.event_y, height_)});
        }
        break;
    }
    case XCB_BUTTON_RELEASE: {
        const auto& e = reinterpret_cast<const xcb_button_release_event_t&>(event);
        if (e.detail == 1) handler.pointer({PointerEvent::Kind::release, viewPoint(e.event_x, e.event_y, height_)});
        break;
    }
    default:
        if (isRandrChange(event)) outputUnchanged();
        break;
    }
}

}  // namespace pp::x11
