// The one-shot words a newcomer tries first: --help, --version and --list-displays, against real X
// servers that watch for any window the program might make.
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>

#include "child_process.hpp"
#include "presenter_session.hpp"
#include "x_server.hpp"

namespace pp::test {
namespace {

// A second client on the server that sees every window made on the root, even one destroyed at once.
class RootWatch {
public:
    explicit RootWatch(const std::string& display) : connection_(xcb_connect(display.c_str(), nullptr))
    {
        if (xcb_connection_has_error(connection_)) return;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root, XCB_CW_EVENT_MASK, &mask);
        free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    }
    ~RootWatch() { xcb_disconnect(connection_); }
    RootWatch(const RootWatch&) = delete;
    RootWatch& operator=(const RootWatch&) = delete;

    bool connected() const { return !xcb_connection_has_error(connection_); }

    // The windows created on the root since the last call; a round trip first, so that every request
    // the server handled before it has sent its event.
    int windowsCreated()
    {
        free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
        int created = 0;
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            if ((event->response_type & 0x7f) == XCB_CREATE_NOTIFY) ++created;
            free(event);
        }
        return created;
    }

private:
    xcb_connection_t* connection_;
};

// The environment of a run on `display` alone: no compositor to be found.
std::map<std::string, std::string> onX(const std::string& display)
{
    return {{"DISPLAY", display}, {"WAYLAND_DISPLAY", ""}, {"XDG_RUNTIME_DIR", "/nonexistent"}};
}

class HelpAndVersion : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = XServer::startXvfb({.width = 800, .height = 600}).release(); }
    static void TearDownTestSuite() { delete server; }
    static XServer* server;
};

XServer* HelpAndVersion::server = nullptr;

TEST_F(HelpAndVersion, AnswerFromAnywhereOnTheLineWithoutAWindow)
{
    RootWatch watch(server->display());
    ASSERT_TRUE(watch.connected());
    const std::vector<std::vector<std::string>> lines = {
        {"--help"},
        {"--mm", "50", "50", "--help"},
        {"--display", "12345", "--help", "--pos", "0.1"},
        {"--assign", "--help"},
        {"--version", "--list-displays", "--help"},
        {"--profile-state", "--help", "--assign", "x.icc"},
        {"--version"},
        {"--display", "nonsense", "--version", "--mm"},
        {"--profile-state", "--list-displays", "--version"},
        {"--platform", "wayland", "--version"}};
    for (const auto& args : lines) {
        std::string line;
        for (const auto& word : args) line += word + " ";
        const bool help = std::find(args.begin(), args.end(), "--help") != args.end();
        const auto result = runToEnd(args, onX(server->display()));
        if (help) {
            EXPECT_TRUE(startsWith(result.output, "usage: patch-presenter ")) << line;
            EXPECT_NE(result.output.find("error unknown command\n"), std::string::npos) << line;
            EXPECT_NE(result.output.find("man patch-presenter"), std::string::npos) << line;
        } else {
            EXPECT_EQ(result.output, "patch-presenter " PP_VERSION "\n") << line;
        }
        EXPECT_EQ(result.status, 0) << line;
        EXPECT_EQ(result.errors, "") << line;
        EXPECT_EQ(watch.windowsCreated(), 0) << line;
    }
}

TEST_F(HelpAndVersion, TheWatchSeesThePresentersWindow)
{
    RootWatch watch(server->display());
    ASSERT_TRUE(watch.connected());
    const auto result = runToEnd({"--platform", "x11"}, onX(server->display()));
    ASSERT_TRUE(startsWith(result.output, "ready {"));
    EXPECT_GE(watch.windowsCreated(), 1);
}

TEST(HelpAndVersionWithoutWindowSystem, NeedNoWindowSystemAtAll)
{
    const std::map<std::string, std::string> nothing = {
        {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"XDG_RUNTIME_DIR", "/nonexistent"}};
    const auto version = runToEnd({"--version"}, nothing);
    EXPECT_EQ(version.output, "patch-presenter " PP_VERSION "\n");
    EXPECT_EQ(version.status, 0);
    const auto help = runToEnd({"--help"}, nothing);
    EXPECT_TRUE(startsWith(help.output, "usage: "));
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.errors, "");
    // The same environment without those words finds no screen: the words above really skipped it.
    const auto list = runToEnd({"--list-displays"}, nothing);
    EXPECT_EQ(list.output, "error no screen main\n");
    EXPECT_EQ(list.status, 1);
    EXPECT_EQ(list.errors, "");
}

class ListDisplays : public DummyXorgSuite<TWO_DUMMY_OUTPUTS> {
protected:
    // The parsed list of a --list-displays run, with its output checked to be one line and no more.
    static nlohmann::json list(const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> args = {"--platform", "x11", "--list-displays"};
        args.insert(args.end(), extra.begin(), extra.end());
        const auto result = runToEnd(args, onX(server->display()));
        EXPECT_EQ(result.status, 0) << result.output;
        EXPECT_EQ(result.errors, "");
        EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
        // The one null is each screen's "colour": X11 manages no colour.
        const auto list = nlohmann::json::parse(result.output);
        std::size_t nulls = 0;
        for (std::size_t at = result.output.find("null"); at != std::string::npos; at = result.output.find("null", at + 1)) {
            ++nulls;
        }
        EXPECT_EQ(nulls, list.size()) << result.output;
        return list;
    }
};

TEST_F(ListDisplays, ListsBothOutputsWithEveryMemberInOrder)
{
    const auto ids = server->outputIds();
    RootWatch watch(server->display());
    const auto displays = list();
    ASSERT_TRUE(displays.is_array());
    ASSERT_EQ(displays.size(), 2u);
    struct Expected {
        const char* output;
        std::vector<int> frame;
        std::vector<int> pixels;
        std::vector<int> mm;
        bool main;
    };
    const Expected expected[] = {{"DUMMY0", {0, 0, 1600, 1000}, {1600, 1000}, {400, 250}, true},
                                 {"DUMMY1", {1600, 0, 1280, 1024}, {1280, 1024}, {340, 270}, false}};
    for (std::size_t i = 0; i < 2; ++i) {
        const auto& entry = displays[i];
        const auto& e = expected[i];
        EXPECT_EQ(entry["display_id"], ids.at(e.output)) << e.output;
        EXPECT_EQ(entry["name"], e.output);  // the dummy outputs have no EDID: the output's name
        EXPECT_EQ(entry["output"], e.output);
        EXPECT_EQ(entry["main"], e.main) << e.output;
        EXPECT_EQ(entry["frame"], nlohmann::json(e.frame)) << e.output;
        EXPECT_EQ(entry["pixels"], nlohmann::json(e.pixels)) << e.output;
        EXPECT_EQ(entry["size_mm"], nlohmann::json(e.mm)) << e.output;
        EXPECT_EQ(entry["scale"], 1);
        EXPECT_EQ(entry["bits"], 8);
        EXPECT_TRUE(entry["colour"].is_null()) << "X11 manages no colour";
        EXPECT_EQ(entry.size(), 10u);  // and no other member
    }
    EXPECT_EQ(watch.windowsCreated(), 0);
}

TEST_F(ListDisplays, WritesTheMembersInTheirOrder)
{
    const auto result = runToEnd({"--platform", "x11", "--list-displays"}, onX(server->display()));
    std::size_t at = 0;
    for (int screen = 0; screen < 2; ++screen) {
        for (const char* key : {"{\"display_id\":", ",\"name\":", ",\"output\":", ",\"main\":", ",\"frame\":[",
                                ",\"pixels\":[", ",\"size_mm\":[", ",\"scale\":1,\"bits\":8,\"colour\":null}"}) {
            const auto found = result.output.find(key, at);
            ASSERT_NE(found, std::string::npos) << key << " after " << at << " in " << result.output;
            at = found;
        }
    }
    EXPECT_EQ(result.output.front(), '[');
    EXPECT_EQ(result.output.substr(result.output.size() - 3), "}]\n");
}

TEST_F(ListDisplays, TheMainScreenFollowsThePrimaryOutputExactlyOnce)
{
    for (const char* primary : {"DUMMY1", "DUMMY0"}) {
        ASSERT_EQ(server->run(std::string("xrandr --output ") + primary + " --primary"), 0);
        int mains = 0;
        for (const auto& entry : list()) {
            if (entry["main"] == true) {
                ++mains;
                EXPECT_EQ(entry["output"], primary);
            }
        }
        EXPECT_EQ(mains, 1) << primary;
    }
}

TEST_F(ListDisplays, EachIdIsTheOneThePresenterReportsOnThatDisplay)
{
    for (const auto& entry : list()) {
        const std::string id = std::to_string(entry["display_id"].get<std::uint32_t>());
        const auto run = runToEnd({"--platform", "x11", "--display", id}, onX(server->display()));
        ASSERT_TRUE(startsWith(run.output, "ready {")) << id;
        const auto report = nlohmann::json::parse(run.output.substr(6, run.output.find('\n') - 6));
        EXPECT_EQ(report["display_id"], entry["display_id"]);
        EXPECT_EQ(report["name"], entry["name"]);
        EXPECT_EQ(report["pixels"], entry["pixels"]);
        EXPECT_EQ(report["size_mm"], entry["size_mm"]);
        EXPECT_EQ(run.status, 0);
    }
}

TEST_F(ListDisplays, AnAskedDisplayPlaysNoPartAndNothingElseRuns)
{
    const auto all = list();
    EXPECT_EQ(list({"--display", "12345"}), all);
    EXPECT_EQ(list({"--profile-state", "--assign", "none", "--mm", "10", "10"}), all);
}

TEST(ListDisplaysOnDeepXvfb, ReportsTenBitsAndNoPhysicalSize)
{
    auto server = XServer::startXvfb({.width = 1024, .height = 768, .depth = 30});
    const auto result = runToEnd({"--list-displays"}, onX(server->display()));
    ASSERT_EQ(result.status, 0) << result.output;
    const auto displays = nlohmann::json::parse(result.output);
    ASSERT_EQ(displays.size(), 1u);
    EXPECT_EQ(displays[0]["output"], "screen");
    EXPECT_EQ(displays[0]["main"], true);
    EXPECT_EQ(displays[0]["frame"], nlohmann::json({0, 0, 1024, 768}));
    EXPECT_EQ(displays[0]["size_mm"], nlohmann::json({0, 0}));
    EXPECT_EQ(displays[0]["bits"], 10);
}

}  // namespace
}  // namespace pp::test
