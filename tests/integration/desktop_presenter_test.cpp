// The presenter on the real desktops (mutter, gnome-shell, KWin, sway from Debian's trixie and sid,
// run headless): it covers the output and answers each patch only once the patch is on the screen.
#include <gtest/gtest.h>

#include "desktop.hpp"
#include "presenter_session.hpp"

namespace pp::test {

void PrintTo(const DesktopChoice& choice, std::ostream* out)
{
    *out << desktopChoiceName(choice);
}

namespace {

constexpr int WIDTH = 1280;
constexpr int HEIGHT = 720;

class DesktopPresenter : public ::testing::TestWithParam<DesktopChoice> {};

TEST_P(DesktopPresenter, AnswersEachPatchOnceItIsOnTheScreenExactly)
{
    const auto& p = GetParam();
    SKIP_WITHOUT_DESKTOP(p.kind, p.release);
    auto desktop = Desktop::start(p.kind, p.release, {WIDTH, HEIGHT});
    if (p.kind == DesktopKind::gnomeShell) desktop->setOverviewActive(false);
    ControllerSession session({}, desktop->env());
    ASSERT_TRUE(startsWith(session.greeting(), "ready ")) << desktop->log();
    EXPECT_EQ(session.report()["pixels"], nlohmann::json::parse("[1280,720]"));
    for (const Rgb& colour : {Rgb{10, 20, 30}, Rgb{200, 100, 50}}) {
        ASSERT_TRUE(painted(session.ask(rgbCommand(colour))));
        // "painted" means shown: the very next read-back holds the patch.
        const Screenshot shot = desktop->screenshot();
        EXPECT_EQ(shot.at(WIDTH / 2, HEIGHT / 2), colour);
    }
    session.child().write("quit\n");
    EXPECT_EQ(session.child().wait(20s), 0);
    EXPECT_EQ(session.child().errorOutput(), "");
}

INSTANTIATE_TEST_SUITE_P(Desktops, DesktopPresenter, ::testing::ValuesIn(everyDesktop()),
                         [](const auto& info) { return desktopChoiceName(info.param); });

}  // namespace
}  // namespace pp::test
