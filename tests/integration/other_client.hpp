// A second X client that does to the presenter's window what other programs on a desktop might.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <string>

namespace pp::test {

class OtherClient {
public:
    // Connects to `display`; throws when it cannot.
    explicit OtherClient(const std::string& display);
    ~OtherClient();
    OtherClient(const OtherClient&) = delete;
    OtherClient& operator=(const OtherClient&) = delete;

    // The presenter's window (a child of the root named "patch-presenter"), or XCB_NONE.
    xcb_window_t presenterWindow();

    void unmap(xcb_window_t window);
    void moveTo(xcb_window_t window, int x, int y);
    void resize(xcb_window_t window, int width, int height);
    void destroy(xcb_window_t window);
    // Puts `window` into a new mapped window of this client at (x, y).
    void reparentIntoNew(xcb_window_t window, int x, int y, int width, int height);
    // Maps an override-redirect window of `pixel` over the rectangle, above every other.
    void cover(int x, int y, int width, int height, std::uint32_t pixel);

    // Waits until the server has carried out everything sent so far.
    void sync();

    xcb_connection_t* connection() const { return connection_; }
    xcb_window_t root() const { return root_; }

private:
    xcb_connection_t* connection_;
    xcb_window_t root_;
};

}  // namespace pp::test
