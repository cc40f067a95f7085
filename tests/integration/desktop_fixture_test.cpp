// The desktop fixtures themselves, proven with the bare test client rather than the presenter: each
// desktop of each release starts with its output at the requested mode, a full-screen client's colour
// reads back exactly, and stopping it leaves nothing running or mounted.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "child_process.hpp"
#include "desktop.hpp"
#include "process_tools.hpp"

namespace pp::test {

void PrintTo(Release release, std::ostream* out)
{
    *out << releaseName(release);
}

void PrintTo(const DesktopChoice& choice, std::ostream* out)
{
    *out << desktopChoiceName(choice);
}

namespace {

const Rgb CLIENT_COLOUR{0x01, 0xFE, 0x80};
constexpr int WIDTH = 1280;
constexpr int HEIGHT = 720;

// A name the desktop's compositor owns on its session bus; none for sway.
const char* busNameOf(DesktopKind kind)
{
    switch (kind) {
    case DesktopKind::mutter:
        return "org.gnome.Mutter.DisplayConfig";
    case DesktopKind::gnomeShell:
        return "org.gnome.Shell";
    case DesktopKind::kwin:
        return "org.kde.KWin";
    case DesktopKind::sway:
        break;
    }
    return nullptr;
}

// Polls `condition` until it holds or `timeout` passes; whether it held.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout = 30s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

// Whether the machine's own mount table names the chroot (the desktop's mounts must stay in its namespace).
bool hostMountsUnder(const std::string& root)
{
    return fileText("/proc/self/mountinfo").find(" " + root) != std::string::npos;
}

class DesktopFixture : public ::testing::TestWithParam<DesktopChoice> {};

TEST_P(DesktopFixture, ShowsAFullScreenClientExactlyAndStopsLeavingNothing)
{
    const auto& p = GetParam();
    SKIP_WITHOUT_DESKTOP(p.kind, p.release);
    const std::string root = std::string("/var/cache/pp-desktops/") + releaseName(p.release);
    auto desktop = Desktop::start(p.kind, p.release, {WIDTH, HEIGHT});

    const auto outputs = desktop->outputs();
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0].pixelWidth, WIDTH);
    EXPECT_EQ(outputs[0].pixelHeight, HEIGHT);
    const auto env = desktop->env();
    EXPECT_EQ(env.at("DISPLAY"), "");
    EXPECT_TRUE(std::filesystem::exists(env.at("XDG_RUNTIME_DIR") + "/" + env.at("WAYLAND_DISPLAY")));
    EXPECT_FALSE(hostMountsUnder(root));
    // The host's own programs reach the desktop's session bus.
    ChildProcess names({"/usr/bin/gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                        "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.ListNames"},
                       env);
    const std::string listed = names.readRest(20s);
    EXPECT_EQ(names.wait(20s), 0) << names.errorOutput();
    if (const char* busName = busNameOf(p.kind)) {
        EXPECT_NE(listed.find(std::string("'") + busName + "'"), std::string::npos) << listed;
    }

    if (p.kind == DesktopKind::gnomeShell) {
        EXPECT_TRUE(eventually([&] { return desktop->overviewActive(); }));
        desktop->setOverviewActive(false);
        EXPECT_FALSE(desktop->overviewActive());
    }
    {
        auto client = desktop->cover(CLIENT_COLOUR);
        Screenshot shot;
        const bool shown = eventually([&] {
            shot = desktop->screenshot();
            return shot.width == WIDTH && shot.height == HEIGHT && shot.at(WIDTH / 2, HEIGHT / 2) == CLIENT_COLOUR &&
                   shot.at(0, 0) == CLIENT_COLOUR && shot.at(WIDTH - 1, HEIGHT - 1) == CLIENT_COLOUR;
        });
        EXPECT_TRUE(shown) << desktop->log();
        ASSERT_EQ(shot.width, WIDTH);
        ASSERT_EQ(shot.height, HEIGHT);
        EXPECT_EQ(shot.at(WIDTH / 2, HEIGHT / 2), CLIENT_COLOUR);
        EXPECT_EQ(shot.at(0, 0), CLIENT_COLOUR);
        EXPECT_EQ(shot.at(WIDTH - 1, HEIGHT - 1), CLIENT_COLOUR);
    }

    const std::string ns = desktop->mountNamespace();
    const std::string runtimeDir = desktop->runtimeDir();
    ASSERT_FALSE(processesInMountNamespace(ns).empty());
    desktop.reset();
    EXPECT_TRUE(processesInMountNamespace(ns).empty());
    EXPECT_TRUE(processesOf(runtimeDir).empty());
    EXPECT_FALSE(std::filesystem::exists(runtimeDir));
    EXPECT_FALSE(hostMountsUnder(root));
}

INSTANTIATE_TEST_SUITE_P(Desktops, DesktopFixture, ::testing::ValuesIn(everyDesktop()),
                         [](const auto& info) { return desktopChoiceName(info.param); });

class GnomeHdr : public ::testing::TestWithParam<Release> {};

TEST_P(GnomeHdr, SwitchesTheVirtualMonitorToBt2100AndBack)
{
    SKIP_WITHOUT_DESKTOP(DesktopKind::mutter, GetParam());
    auto desktop = Desktop::start(DesktopKind::mutter, GetParam(), {WIDTH, HEIGHT});
    EXPECT_FALSE(desktop->hdr());
    desktop->setHdr(true);
    EXPECT_TRUE(desktop->hdr());
    desktop->setHdr(false);
    EXPECT_FALSE(desktop->hdr());
}

INSTANTIATE_TEST_SUITE_P(Releases, GnomeHdr, ::testing::Values(Release::trixie, Release::sid),
                         [](const auto& info) { return std::string(releaseName(info.param)); });

}  // namespace
}  // namespace pp::test
