// The texts a desktop of desktop.hpp runs from: the shell scripts that set up its namespace and start
// its session inside the chroot, the read-back helpers (Python with GIO, in the chroot) and the
// configurations of its buses and of sway.
#pragma once

#include <string>

namespace pp::test {

enum class DesktopKind;

// The Wayland socket name mutter, gnome-shell and KWin are told to listen on.
inline constexpr const char* DESKTOP_SOCKET = "wayland-pp";

// Run by `unshare --mount --pid --fork` as the namespace's first process: mounts /proc (of the new
// process namespace), /sys, /dev (with /dev/shm and /dev/pts), a private /tmp and the folder at its
// own path in the chroot, then starts the session script in the chroot with an empty environment.
std::string namespaceScript(const std::string& root, const std::string& folder);

// Starts, in the chroot, the session bus, what the desktop needs (PipeWire and WirePlumber for
// mutter's screen casts, a system bus with a mock logind for gnome-shell, a headless sway to nest KWin
// in, unless `kwinVirtual`: then KWin's own virtual output) and the compositor with one output of that
// mode; it ends when the compositor does.
std::string sessionScript(DesktopKind kind, const std::string& folder, const std::string& runtimeDir, int width,
                          int height, bool kwinVirtual = false);

// The configuration of the headless sway (run as nobody) for sway itself and for nesting KWin: no
// background, borders or gaps, one output of that mode, every window full-screen.
std::string swayConfig(int width, int height);

// A permissive system bus on the folder's socket "system_bus", for the mock logind.
std::string systemBusConfig(const std::string& folder);

// The GSettings the desktops read from the keyfile backend: animations on or off.
std::string settingsKeyfile(bool animations);

// `python3 screencast.py CONNECTOR FILE`: one frame of the monitor through org.gnome.Mutter.ScreenCast
// and PipeWire (gst pipewiresrc), written to FILE as raw 8-bit BGRx or BGRA.
std::string screenCastScript();

// `python3 screenshot.py FILE`: a PNG of the screen through org.gnome.Shell.Screenshot, as the owner of
// the bus names gnome-shell lets call it (org.gnome.Screenshot up to 48, the media keys' from 49).
std::string screenshotScript();

}  // namespace pp::test
