// The Wayland window system: the connection to the compositor, its outputs, the window and the loop.
#pragma once

#include <memory>

#include "core/thread_rules.hpp"
#include "platform/wayland/wayland_connection.hpp"
#include "platform/wayland/wayland_main_loop.hpp"
#include "platform/window_system.hpp"

namespace pp::wayland {

// Screens are the compositor's wl_outputs in the order the registry announced them; the main screen is
// the first. Where the compositor manages colour, each screen carries the encoding it describes for the
// output. No transfer table can be read (three empty channels) and no profile is advertised. Owns
// the connection; windows it made must be destroyed before it. Main thread, except
// mainLoop().runOnMain.
class WaylandWindowSystem : public WindowSystem {
public:
    explicit WaylandWindowSystem(std::unique_ptr<WaylandConnection> connection);
    ~WaylandWindowSystem() override;

    std::vector<Screen> screens() override;
    std::optional<Screen> mainScreen() override;
    TransferTable transferTable(std::uint32_t number, std::size_t capacity) override;
    std::vector<std::uint8_t> advertisedProfile(std::uint32_t number) override;

    // The full-screen window on `screen`'s output; none when it cannot be made to cover the output.
    std::unique_ptr<Window> createWindow(const Screen& screen) override;
    MainLoop& mainLoop() override { return loop_; }

private:
    std::unique_ptr<WaylandConnection> connection_;
    WaylandMainLoop loop_;
    OneAtATime oneAtATime_;  // the queries' thread rule, checked in debug builds
};

// The window system of the compositor named by WAYLAND_DISPLAY (or the default socket); none when no
// compositor answers.
std::unique_ptr<WaylandWindowSystem> connectWindowSystem();

}  // namespace pp::wayland
