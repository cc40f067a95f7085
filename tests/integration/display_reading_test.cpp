// The screens and the status report's reading over many outputs of a dummy-driver Xorg: the requests
// for all outputs go out together, so every value must still land on its own output, in order.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string_view>

#include "child_process.hpp"
#include "presenter_session.hpp"
#include "platform/x11/x11_displays.hpp"
#include "x_server.hpp"

namespace pp::test {
namespace {

constexpr int OUTPUTS = 8;
constexpr int SWITCHED_OFF = 3;  // connected, but driven by no CRTC

// Each output its own mode and physical size, so that values swapped between outputs show.
std::vector<DummyOutput> distinctOutputs()
{
    std::vector<DummyOutput> outputs;
    for (int i = 0; i < OUTPUTS; ++i) outputs.push_back({320 + 16 * i, 200 + 8 * i, 80 + i, 50 + 2 * i});
    return outputs;
}

// The red gamma xrandr gives output i: its ramp is x^(1/g), a different curve on every output.
double redGamma(int i)
{
    return 0.5 + 0.25 * i;
}

// An output as `xrandr --verbose --current` describes it.
struct ListedOutput {
    std::string name;
    std::uint32_t id = 0;
    bool driven = false;  // connected with a mode: "WxH+X+Y" on its line
    Rect frame;
    Size mm;
};

std::vector<ListedOutput> xrandrOutputs(const XServer& server)
{
    std::vector<ListedOutput> list;
    std::istringstream text(server.output("xrandr --verbose --current"));
    std::string line;
    while (std::getline(text, line)) {
        if (line.find(" connected") != std::string::npos || line.find(" disconnected") != std::string::npos) {
            ListedOutput out;
            out.name = line.substr(0, line.find(' '));
            int w, h, x, y;
            double mmW, mmH;
            const auto geometry = line.find_first_of("0123456789", out.name.size());
            if (line.find(" connected") != std::string::npos && geometry != std::string::npos &&
                std::sscanf(line.c_str() + geometry, "%dx%d+%d+%d", &w, &h, &x, &y) == 4) {
                out.driven = true;
                out.frame = {double(x), double(y), double(w), double(h)};
                const auto mm = line.rfind(") ");
                if (mm != std::string::npos && std::sscanf(line.c_str() + mm + 2, "%lfmm x %lfmm", &mmW, &mmH) == 2) {
                    out.mm = {mmW, mmH};
                }
            }
            list.push_back(out);
        }
        const auto at = line.find("Identifier: 0x");
        if (at != std::string::npos && !list.empty()) {
            list.back().id = static_cast<std::uint32_t>(std::stoul(line.substr(at + 12), nullptr, 16));
        }
    }
    return list;
}

std::vector<std::uint8_t> bytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

class ManyOutputs : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!haveProgram("Xorg")) return;
        server = XServer::startXorgDummy(distinctOutputs()).release();
        std::string script = "xrandr --output DUMMY" + std::to_string(SWITCHED_OFF) + " --off";
        for (int i = 0; i < OUTPUTS; ++i) {
            if (i == SWITCHED_OFF) continue;
            script += " && xrandr --output DUMMY" + std::to_string(i) + " --gamma " + std::to_string(redGamma(i)) +
                      ":1:1";
        }
        if (server->run(script) != 0) {
            delete server;
            server = nullptr;
            return;
        }
        connection = x11::connectToServer(server->display().c_str());
        listed = new std::vector<ListedOutput>(xrandrOutputs(*server));
    }
    static void TearDownTestSuite()
    {
        if (connection) xcb_disconnect(connection);
        delete listed;
        delete server;
    }
    void SetUp() override
    {
        SKIP_WITHOUT_PROGRAM("Xorg");
        ASSERT_TRUE(server && connection) << "the dummy Xorg did not take its outputs";
        displays = std::make_unique<x11::X11Displays>(connection);
    }

    static std::uint32_t idOf(const std::string& name)
    {
        for (const auto& out : *listed) {
            if (out.name == name) return out.id;
        }
        ADD_FAILURE() << "no output " << name;
        return 0;
    }

    // The red entry the server's ramp of DUMMY<i> holds at 128 of 255.
    static double expectedRed(int i) { return std::pow(128 / 255.0, 1 / redGamma(i)); }

    static XServer* server;
    static xcb_connection_t* connection;
    static std::vector<ListedOutput>* listed;
    std::unique_ptr<x11::X11Displays> displays;
};

XServer* ManyOutputs::server = nullptr;
xcb_connection_t* ManyOutputs::connection = nullptr;
std::vector<ListedOutput>* ManyOutputs::listed = nullptr;

TEST_F(ManyOutputs, TheScreensAreTheDrivenOutputsInTheServersOrderWithTheirOwnValues)
{
    std::vector<ListedOutput> driven;
    for (const auto& out : *listed) {
        if (out.driven) driven.push_back(out);
    }
    ASSERT_EQ(driven.size(), std::size_t(OUTPUTS - 1));  // DUMMY8 on are disconnected, DUMMY3 is off
    const auto screens = displays->screens();
    ASSERT_EQ(screens.size(), driven.size());
    for (std::size_t i = 0; i < screens.size(); ++i) {
        SCOPED_TRACE(driven[i].name);
        EXPECT_EQ(screens[i].number, driven[i].id);
        EXPECT_EQ(screens[i].outputName, driven[i].name);
        EXPECT_EQ(screens[i].name, driven[i].name);
        EXPECT_EQ(screens[i].frame, driven[i].frame);
        EXPECT_EQ(screens[i].mm, driven[i].mm);
        EXPECT_EQ(screens[i].pixelsWide, int(driven[i].frame.width));
        EXPECT_EQ(screens[i].pixelsHigh, int(driven[i].frame.height));
    }
    EXPECT_EQ(displays->mainScreen()->outputName, "DUMMY0");
}

TEST_F(ManyOutputs, EachReadingHoldsItsOwnOutputsScreenRampAndProfile)
{
    advertiseIccProfile(connection, idOf("DUMMY5"), bytes("profile of five"));
    advertiseIccProfile(connection, 0, bytes("profile of the root"));
    const auto screens = displays->screens();
    for (int i = 0; i < OUTPUTS; ++i) {
        if (i == SWITCHED_OFF) continue;
        const std::string name = "DUMMY" + std::to_string(i);
        SCOPED_TRACE(name);
        const std::uint32_t id = idOf(name);
        const DisplayReading reading = displays->displayReading(id, 256);
        ASSERT_TRUE(reading.screen);
        EXPECT_EQ(reading.screen->outputName, name);
        EXPECT_EQ(reading.screen->number, id);
        EXPECT_EQ(reading.screen->frame, screens[std::size_t(i < SWITCHED_OFF ? i : i - 1)].frame);
        EXPECT_EQ(reading.screen->mm, (Size{80.0 + i, 50.0 + 2 * i}));
        ASSERT_EQ(reading.transfer.red.size(), 256u);
        ASSERT_EQ(reading.transfer.blue.size(), 256u);
        EXPECT_NEAR(reading.transfer.red[128], expectedRed(i), 0.01);
        EXPECT_NEAR(reading.transfer.green[128], 128 / 255.0, 0.01);
        // The reading gives what the single queries give.
        const TransferTable alone = displays->transferTable(id, 256);
        EXPECT_EQ(reading.transfer.red, alone.red);
        EXPECT_EQ(reading.transfer.green, alone.green);
        EXPECT_EQ(reading.transfer.blue, alone.blue);
        EXPECT_EQ(reading.advertisedProfile, displays->advertisedProfile(id));
        const std::string expected = i == 5 ? "profile of five" : i == 0 ? "profile of the root" : "";
        EXPECT_EQ(reading.advertisedProfile, bytes(expected));
    }
    advertiseIccProfile(connection, idOf("DUMMY5"), {});
    advertiseIccProfile(connection, 0, {});
    EXPECT_EQ(displays->displayReading(idOf("DUMMY5"), 256).advertisedProfile, bytes(""));
    EXPECT_EQ(displays->displayReading(idOf("DUMMY0"), 256).advertisedProfile, bytes(""));
}

TEST_F(ManyOutputs, AnOutputThatIsNotDrivenIsNotListedAndHasNoRamp)
{
    for (const std::string name : {"DUMMY3", "DUMMY12"}) {
        SCOPED_TRACE(name);
        const DisplayReading reading = displays->displayReading(idOf(name), 256);
        EXPECT_FALSE(reading.screen);
        EXPECT_TRUE(reading.transfer.red.empty());
        EXPECT_TRUE(reading.advertisedProfile.empty());
    }
    const DisplayReading unknown = displays->displayReading(999999, 256);
    EXPECT_FALSE(unknown.screen);
    EXPECT_TRUE(unknown.transfer.red.empty());
    EXPECT_TRUE(displays->displayReading(idOf("DUMMY2"), 0).transfer.red.empty());
}

TEST_F(ManyOutputs, TheListAndTheReportOfTheProgramNameEachOutputsOwnValues)
{
    const auto list = runToEnd({"--list-displays"}, {{"DISPLAY", server->display()}});
    ASSERT_EQ(list.status, 0) << list.output;
    const auto displaysJson = nlohmann::json::parse(list.output);
    std::vector<ListedOutput> driven;
    for (const auto& out : *listed) {
        if (out.driven) driven.push_back(out);
    }
    ASSERT_EQ(displaysJson.size(), driven.size());
    for (std::size_t i = 0; i < driven.size(); ++i) {
        SCOPED_TRACE(driven[i].name);
        EXPECT_EQ(displaysJson[i]["display_id"], driven[i].id);
        EXPECT_EQ(displaysJson[i]["output"], driven[i].name);
        EXPECT_EQ(displaysJson[i]["frame"], nlohmann::json::array({driven[i].frame.x, driven[i].frame.y,
                                                                    driven[i].frame.width, driven[i].frame.height}));
        EXPECT_EQ(displaysJson[i]["size_mm"], nlohmann::json::array({driven[i].mm.width, driven[i].mm.height}));
    }

    // The report of an output in the middle of the list names that output, whatever the others are.
    const std::uint32_t six = idOf("DUMMY6");
    PresenterSession presenter(*server, {"--display", std::to_string(six)});
    ASSERT_TRUE(startsWith(presenter.greeting(), "ready "));
    const auto report = presenter.info();
    EXPECT_EQ(report["display_id"], six);
    EXPECT_EQ(report["name"], "DUMMY6");
    EXPECT_EQ(report["pixels"], nlohmann::json::array({320 + 16 * 6, 200 + 8 * 6}));
    EXPECT_EQ(report["size_mm"], nlohmann::json::array({86, 62}));
    ASSERT_EQ(report["gamma_table"].size(), 3u);
    ASSERT_EQ(report["gamma_table"][0].size(), 256u);
    EXPECT_NEAR(report["gamma_table"][0][128].get<double>(), expectedRed(6), 0.01);
    EXPECT_NEAR(report["gamma_table"][1][128].get<double>(), 128 / 255.0, 0.01);
    EXPECT_EQ(presenter.report()["gamma_table"], report["gamma_table"]);
    presenter.child().write("quit\n");
    EXPECT_EQ(presenter.child().wait(), 0);
}

}  // namespace
}  // namespace pp::test
