// gnome-shell's overview, which shows every window as a scaled thumbnail: while it is open the presenter's
// window is on the screen, but not as it was drawn.
#pragma once

#include <memory>

namespace pp::session {

// Follows the org.gnome.Shell property OverviewActive on the session bus that DBUS_SESSION_BUS_ADDRESS
// names. Made on the main thread; the bus is served by a thread of its own, and open() and the
// descriptor may be read from any thread.
class ShellOverview {
public:
    // Closes the overview when it is open and follows it from then on; none without a session bus or
    // without gnome-shell on it. Blocks for at most a couple of seconds (a bus that does not answer).
    static std::unique_ptr<ShellOverview> follow();
    ~ShellOverview();
    ShellOverview(const ShellOverview&) = delete;
    ShellOverview& operator=(const ShellOverview&) = delete;

    // Whether the overview is open, or still closing (it counts as closed once the shell says so, after
    // its animation).
    bool open() const;
    // Readable after the overview opened or closed, until changeSeen() is called.
    int changedFd() const;
    void changeSeen();

    struct Follower;

private:
    explicit ShellOverview(std::shared_ptr<Follower> follower);
    std::shared_ptr<Follower> follower_;  // shared with the bus thread
};

}  // namespace pp::session
