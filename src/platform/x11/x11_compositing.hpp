// The window under an X compositing manager: asking the manager to leave it alone, noticing when it
// does not, and waiting until the screen itself shows a presented frame.
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <optional>

namespace pp::x11 {

// Marks `window` as one that compositing managers should not redirect: _NET_WM_BYPASS_COMPOSITOR 1
// and the full-screen state in _NET_WM_STATE. Main thread.
void askCompositorsToStayAway(xcb_connection_t* connection, xcb_window_t window);

// Watches for a compositing manager on the connection's first screen. Main thread only.
class CompositorWatch {
public:
    CompositorWatch(xcb_connection_t* connection, xcb_window_t window);

    // Has the server tell when the compositing-manager selection changes hands (XFixes), so that an
    // answer of "no manager" holds until it does. Call once XFixes' version has been agreed.
    void watchOwner();

    // Takes an XFixes selection event: the selection changed hands, and who owns it is asked again.
    // Whether the event was one.
    bool ownerEvent(const xcb_generic_event_t& event);

    // Whether no manager runs, as last answered and not changed since (known only while watched).
    bool knownUnmanaged() const { return watching_ && managed_ == false; }

    // Asks who owns the compositing-manager selection; the answer is read by redirected(), so the
    // question can share a round trip with others. Nothing is asked while no manager is known to run.
    void ask();

    // Whether a compositing manager runs (its selection has an owner) and the window is still
    // redirected to it (its contents reach the screen only once the manager copies them). Reads the
    // answer to ask(), asking now when it was not asked; no question at all while no manager is known
    // to run.
    bool redirected();

    // Reads the root window over `x`, `y`, `width` x `height` until its pixels equal `pixels`
    // (`stride` pixels per row, compared under `mask`), for at most `limit`. True when they did.
    bool waitUntilShown(int x, int y, int width, int height, const std::uint32_t* pixels, int stride,
                        std::uint32_t mask, std::chrono::milliseconds limit);

private:
    xcb_connection_t* connection_;
    xcb_window_t window_;
    xcb_window_t root_;
    xcb_atom_t selection_ = XCB_ATOM_NONE;
    bool composite_ = false;  // the Composite extension at version 0.2 or later
    bool watching_ = false;   // selection changes are reported
    std::uint8_t xfixesEvents_ = 0;    // XFixes' first event code
    std::optional<bool> managed_;      // the last answer while watched, until the selection changes hands
    std::optional<xcb_get_selection_owner_cookie_t> asked_;
};

}  // namespace pp::x11
