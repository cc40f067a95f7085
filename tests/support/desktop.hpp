// Real desktops run headless from Debian's own packages in the chroots scripts/desktop-chroots builds
// (/var/cache/pp-desktops/RELEASE): mutter, gnome-shell, KWin (nested in a headless sway, whose screen
// is then read) and sway, each with a session bus of its own, in a private mount and process namespace
// that holds every process it starts. The runtime folder is mounted at the same path inside the chroot
// as outside, so the host-built program reaches the Wayland socket and the session bus directly.
// Everything is stopped with the namespace whatever the test's outcome; a crashed test takes it along.
#pragma once

#include <sys/types.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "pixels.hpp"
#include "screenshot.hpp"
#include "wayland_outputs.hpp"

namespace pp::test {

enum class DesktopKind { mutter, gnomeShell, kwin, sway };
enum class Release { trixie, sid };

const char* desktopKindName(DesktopKind kind);  // "mutter", "gnomeShell", "kwin", "sway"
const char* releaseName(Release release);        // "trixie", "sid"

// One desktop of one release, for tables of tests.
struct DesktopChoice {
    DesktopKind kind;
    Release release;
};
// Every desktop the tests run on: mutter, gnome-shell and KWin from trixie and sid, sway from sid.
const std::vector<DesktopChoice>& everyDesktop();
// "trixie_mutter" and so on: for test names.
std::string desktopChoiceName(const DesktopChoice& choice);

struct DesktopOptions {
    int width = 1920;  // the one output's mode, in device pixels
    int height = 1080;
    bool animations = false;  // GNOME's animations (a window zooming in as it is mapped, the overview's)
    // KWin on a virtual output of its own, as a headless desktop runs it: it reports presentations (the
    // nested KWin does not), but its screen cannot be read.
    bool kwinVirtual = false;
};

// Whether a desktop can run: `ready`, or `missing` (the chroot was never built) or `unbuildable` (the
// release does not offer the desktop, or the chroot script found the archive unusable), `why` saying so.
enum class DesktopAvailability { ready, missing, unbuildable };
DesktopAvailability desktopAvailability(DesktopKind kind, Release release, std::string* why = nullptr);

// Skips the test when the desktop cannot run; fails it instead where PP_REQUIRE_DESKTOPS is set (as CI
// sets it) and the chroot is merely missing. A chroot the archive could not give is a skip with the
// reason the chroot script recorded. Use as `SKIP_WITHOUT_DESKTOP(kind, release);` at the top of a test.
#define SKIP_WITHOUT_DESKTOP(kind, release)                                                            \
    do {                                                                                               \
        std::string why_;                                                                              \
        const auto availability_ = ::pp::test::desktopAvailability((kind), (release), &why_);          \
        if (availability_ == ::pp::test::DesktopAvailability::unbuildable) GTEST_SKIP() << why_;       \
        if (availability_ == ::pp::test::DesktopAvailability::missing) {                               \
            if (std::getenv("PP_REQUIRE_DESKTOPS")) FAIL() << why_;                                    \
            GTEST_SKIP() << why_;                                                                      \
        }                                                                                              \
    } while (false)

// The processes whose mount namespace is `ns` (as /proc/PID/ns/mnt reads: "mnt:[N]").
std::vector<pid_t> processesInMountNamespace(const std::string& ns);

class Desktop {
public:
    // Starts the desktop and waits (at most 30 s) until its Wayland socket answers with the one output
    // announced at the requested mode, and the D-Bus service its read-back uses is there. Throws with
    // the desktop's log when it does not; throws std::logic_error for sway on trixie.
    static std::unique_ptr<Desktop> start(DesktopKind kind, Release release, const DesktopOptions& options = {});

    ~Desktop();  // stops everything in the namespace and removes the folder
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    DesktopKind kind() const { return kind_; }
    Release release() const { return release_; }
    const std::string& runtimeDir() const { return runtimeDir_; }
    // The mount namespace everything runs in ("mnt:[N]"); gone once the desktop has stopped.
    const std::string& mountNamespace() const { return namespace_; }

    // What the host-built client needs (WAYLAND_DISPLAY, XDG_RUNTIME_DIR, DBUS_SESSION_BUS_ADDRESS of
    // the desktop's session bus), with DISPLAY and the other foreign display variables removed.
    std::map<std::string, std::string> env() const;

    // The outputs as a client sees them.
    std::vector<CompositorOutput> outputs() const;

    // The output's device pixels, exact 8-bit values: mutter's ScreenCast over PipeWire, gnome-shell's
    // Screenshot, grim on sway (for KWin: on the sway it is nested in). Throws when the capture fails.
    Screenshot screenshot() const;

    // gnome-shell only: its overview, through org.gnome.Shell's OverviewActive property (gnome-shell
    // starts with it open). setOverviewActive returns once the property reads as asked.
    bool overviewActive() const;
    void setOverviewActive(bool active) const;

    // mutter and gnome-shell only: whether the virtual monitor is in the BT.2100 colour mode (HDR10), as
    // gdctl shows it; setHdr switches it (gdctl set) and returns once gdctl shows the change.
    bool hdr() const;
    void setHdr(bool on) const;

    // Covers the output with another client made full-screen (the tests' bare client filling `colour`),
    // returned once its first frame has been shown.
    std::unique_ptr<ChildProcess> cover(const Rgb& colour) const;

    // Runs a program of the chroot as a client of the desktop; its standard output (and exit status).
    std::string run(const std::vector<std::string>& argv, int* status = nullptr) const;

    // The desktop's log so far (every process's standard output and error).
    std::string log() const;

private:
    Desktop(DesktopKind kind, Release release);
    void launch();
    void waitUntilReady(const DesktopOptions& options);
    std::map<std::string, std::string> toolEnv() const;
    Screenshot screenCast() const;
    Screenshot shellScreenshot() const;
    void stopAll();

    DesktopKind kind_;
    Release release_;
    std::string root_;        // the chroot
    std::string folder_;      // scratch folder, the same path inside the chroot
    std::string runtimeDir_;
    std::string socket_;      // the Wayland socket the client uses
    std::string hostSocket_;  // KWin only: the sway it is nested in
    std::string namespace_;
    pid_t pid_ = 0;   // unshare, this process's child
    pid_t init_ = 0;  // the namespace's first process, as this process sees it
    bool reaped_ = false;
};

}  // namespace pp::test
