// The network road with the real binary: the test is the calibration suite, listening on 127.0.0.1, and
// reads the pictures back from the window system (Xvfb's root window, sway's screenshots).
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <variant>

#include "compositor.hpp"
#include "presenter_session.hpp"
#include "suite_listener.hpp"
#include "x_server.hpp"

namespace pp::test {
namespace {

constexpr int W = 800;
constexpr int H = 600;  // not a multiple of 16: the dither tile's anchoring shows

// x, y, cx, cy as fractions; on 800 x 600: columns 200..599, rows 60..239.
const std::string BOX = R"(x="0.25" y="0.1" cx="0.5" cy="0.3")";
const std::string WHOLE = R"(x="0" y="0" cx="1" cy="1")";

bool inBox(int x, int y)
{
    return x >= 200 && x < 600 && y >= 60 && y < 240;
}

// The hint's corner at the bottom left, where the surround is drawn over with text.
bool inHint(int x, int y)
{
    return x < 160 && y >= H - 60;
}

enum class Where { xvfb, sway };

std::string whereName(const ::testing::TestParamInfo<Where>& info)
{
    return info.param == Where::xvfb ? "xvfb" : "sway";
}

// What the window system shows now, read back by a second client.
struct Shot {
    std::variant<RootImage, Screenshot> image;
    Rgb at(int x, int y) const
    {
        if (auto* root = std::get_if<RootImage>(&image)) return root->at(x, y);
        return std::get<Screenshot>(image).at(x, y);
    }
};

// A window system with one W x H screen, and the presenter's road to a suite on it.
class Stage {
public:
    explicit Stage(Where where, int depth = 24)
    {
        if (where == Where::xvfb) {
            server_ = XServer::startXvfb({.width = W, .height = H, .depth = depth});
        } else {
            SwayOptions options;
            options.width = W;
            options.height = H;
            compositor_ = Compositor::startSway(options);
        }
    }

    // Starts the presenter on the road to `address`; whether it greets with its report.
    ::testing::AssertionResult start(const std::string& address)
    {
        const auto env = server_ ? std::map<std::string, std::string>{{"DISPLAY", server_->display()}}
                                 : compositor_->env();
        session_ = std::make_unique<ControllerSession>(std::vector<std::string>{"--connect", address}, env);
        return startsWith(session_->greeting(), "ready {");
    }

    std::string line(std::chrono::milliseconds timeout = 10s) { return session_->nextLine(timeout); }
    ChildProcess& child() { return session_->child(); }

    Shot shot() const
    {
        if (server_) return {readRoot(server_->display(), 0, 0, W, H)};
        return {compositor_->screenshot(compositor_->outputs().at(0).name)};
    }

    // Presses Escape at the display.
    void pressEscape() const
    {
        if (server_) {
            ASSERT_EQ(server_->run("xdotool key Escape"), 0);
        } else {
            ASSERT_EQ(compositor_->type({"-k", "Escape"}), 0);
        }
    }

private:
    std::unique_ptr<XServer> server_;
    std::unique_ptr<Compositor> compositor_;
    std::unique_ptr<ControllerSession> session_;
};

// The presenter started on `stage` and connected to `suite`.
void startConnected(Stage& stage, SuiteListener& suite)
{
    ASSERT_TRUE(stage.start(suite.address()));
    ASSERT_TRUE(suite.accept());
    ASSERT_EQ(stage.line(), "connected 127.0.0.1 " + std::to_string(suite.port()));
}

// Sends one message and waits for its "painted" line.
void show(Stage& stage, SuiteListener& suite, const std::string& xml)
{
    ASSERT_TRUE(suite.send(suiteFrame(xml)));
    const std::string reply = stage.line();
    ASSERT_TRUE(painted(reply));
}

// Every pixel of the screen: `patch` inside the box, `surround` elsewhere (the hint's corner aside).
void expectBoxOn(const Shot& shot, Rgb patch, Rgb surround)
{
    int wrong = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            if (inHint(x, y)) continue;
            const Rgb expected = inBox(x, y) ? patch : surround;
            if (!(shot.at(x, y) == expected) && wrong++ < 5) {
                ADD_FAILURE() << "at " << x << "," << y << ": " << shot.at(x, y).r << " " << shot.at(x, y).g << " "
                              << shot.at(x, y).b;
            }
        }
    EXPECT_EQ(wrong, 0);
}

class Network : public ::testing::TestWithParam<Where> {};

TEST_P(Network, FormBAtEightBitsShowsTheSurroundAndTheRectangleToThePixel)
{
    Stage stage(GetParam());
    SuiteListener suite;
    startConnected(stage, suite);
    show(stage, suite, formB({200, 100, 50}, {10, 20, 30}, 8, BOX));
    expectBoxOn(stage.shot(), {200, 100, 50}, {10, 20, 30});
    show(stage, suite, formB({1, 254, 128}, {255, 255, 255}, 8, BOX));
    expectBoxOn(stage.shot(), {1, 254, 128}, {255, 255, 255});
}

TEST_P(Network, FormAShowsEightBitColoursOnBlack)
{
    Stage stage(GetParam());
    SuiteListener suite;
    startConnected(stage, suite);
    show(stage, suite, formB({9, 9, 9}, {90, 90, 90}, 8, WHOLE));  // form A must not keep this background
    show(stage, suite, formA(250, 128, 3, BOX));
    expectBoxOn(stage.shot(), {250, 128, 3}, {0, 0, 0});
}

TEST_P(Network, MessagesSplitByteByByteAndTenInOneWriteAreEachShownInOrder)
{
    Stage stage(GetParam());
    SuiteListener suite;
    startConnected(stage, suite);
    for (int k = 0; k < 3; ++k) {
        ASSERT_TRUE(suite.sendByteByByte(suiteFrame(formB({100 + k, 0, 0}, {0, 0, 0}, 8, WHOLE))));
        const std::string reply = stage.line();
        ASSERT_TRUE(painted(reply));
        EXPECT_EQ(stage.shot().at(W / 2, H / 2), (Rgb{100 + k, 0, 0}));
    }
    std::string burst;
    for (int k = 0; k < 10; ++k) burst += suiteFrame(formB({0, 10 * k, 0}, {0, 0, 5 * k}, 8, BOX));
    ASSERT_TRUE(suite.send(burst));
    double last = 0;
    for (int k = 0; k < 10; ++k) {
        const std::string reply = stage.line();
        ASSERT_TRUE(painted(reply)) << k;
        const double t = paintedTime(reply);
        EXPECT_GE(t, last);
        last = t;
    }
    EXPECT_EQ(stage.line(500ms), "<none>");  // one line per message, no more
    expectBoxOn(stage.shot(), {0, 90, 0}, {0, 0, 45});
}

TEST_P(Network, WaitsForASuiteThatIsNotYetListeningAndConnectsWhenItDoes)
{
    Stage stage(GetParam());
    const std::uint16_t port = SuiteListener::freePort();
    ASSERT_TRUE(stage.start("127.0.0.1:" + std::to_string(port)));
    EXPECT_EQ(stage.line(2500ms), "<none>");
    SuiteListener suite(port);
    ASSERT_TRUE(suite.accept(5s));
    ASSERT_EQ(stage.line(), "connected 127.0.0.1 " + std::to_string(port));
    show(stage, suite, formB({30, 60, 90}, {0, 0, 0}, 8, BOX));
    expectBoxOn(stage.shot(), {30, 60, 90}, {0, 0, 0});
}

TEST_P(Network, ASuiteThatClosesIsFollowedByDisconnectedAndAConnectionWhenItListensAgain)
{
    Stage stage(GetParam());
    auto suite = std::make_unique<SuiteListener>();
    const std::uint16_t port = suite->port();
    startConnected(stage, *suite);
    show(stage, *suite, formB({70, 0, 0}, {0, 0, 0}, 8, BOX));
    suite.reset();  // the connection and the listener both go
    EXPECT_EQ(stage.line(), "disconnected");
    EXPECT_EQ(stage.line(1500ms), "<none>");
    suite = std::make_unique<SuiteListener>(port);
    ASSERT_TRUE(suite->accept(5s));
    ASSERT_EQ(stage.line(), "connected 127.0.0.1 " + std::to_string(port));
    EXPECT_EQ(stage.shot().at(W / 2, 100), (Rgb{70, 0, 0}));  // the last picture stays meanwhile
    show(stage, *suite, formB({0, 70, 0}, {0, 0, 0}, 8, BOX));
    expectBoxOn(stage.shot(), {0, 70, 0}, {0, 0, 0});
}

TEST_P(Network, BadMessagesAreAnsweredShowNothingAndTheNextGoodOneIsShown)
{
    Stage stage(GetParam());
    SuiteListener suite;
    startConnected(stage, suite);
    Rgb shown{40, 40, 40};
    show(stage, suite, formB(shown, {4, 4, 4}, 8, BOX));
    struct Case {
        const char* why;
        std::string xml;
    };
    const Case cases[] = {
        {"malformed XML", "<calibration><color red=\"1\" green=\"2\" blue=\"3\"/><geometry"},
        {"bits 0", formB({1, 2, 3}, {0, 0, 0}, 0, BOX)},
        {"bits 40", formB({1, 2, 3}, {0, 0, 0}, 40, BOX)},
        {"colour above 2^10 - 1", formB({1024, 2, 3}, {0, 0, 0}, 10, BOX)},
        {"colour above 2^8 - 1", formA(256, 2, 3, BOX)},
        {"no geometry", "<calibration><color red=\"1\" green=\"2\" blue=\"3\"/></calibration>"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        ASSERT_TRUE(suite.send(suiteFrame(cases[i].xml)));
        EXPECT_EQ(stage.line(), "error bad message") << cases[i].why;
        EXPECT_EQ(stage.shot().at(W / 2, 100), shown) << cases[i].why;
        shown = Rgb{50 + int(i), 60, 70};
        show(stage, suite, formB(shown, {4, 4, 4}, 8, BOX));
        EXPECT_EQ(stage.shot().at(W / 2, 100), shown) << cases[i].why;
    }
}

TEST_P(Network, ATwoMegabyteLengthDropsTheConnectionAndTheNextGoodMessageIsShownAfterIt)
{
    Stage stage(GetParam());
    SuiteListener suite;
    startConnected(stage, suite);
    ASSERT_TRUE(suite.send(suiteFrame("", 2u << 20) + std::string(4096, '<')));
    EXPECT_EQ(stage.line(), "error bad message");
    EXPECT_EQ(stage.line(), "disconnected");
    ASSERT_TRUE(suite.accept(5s));
    ASSERT_EQ(stage.line(), "connected 127.0.0.1 " + std::to_string(suite.port()));
    show(stage, suite, formB({12, 34, 56}, {65, 43, 21}, 8, BOX));
    expectBoxOn(stage.shot(), {12, 34, 56}, {65, 43, 21});
    // A frame cut short by the end of the connection is a bad message too.
    ASSERT_TRUE(suite.send(suiteFrame(formB({1, 1, 1}, {1, 1, 1}, 8, BOX)).substr(0, 40)));
    suite.hangUp();
    EXPECT_EQ(stage.line(), "error bad message");
    EXPECT_EQ(stage.line(), "disconnected");
    ASSERT_TRUE(suite.accept(5s));
    EXPECT_EQ(stage.line(), "connected 127.0.0.1 " + std::to_string(suite.port()));
    EXPECT_EQ(stage.shot().at(W / 2, 100), (Rgb{12, 34, 56}));
}

TEST_P(Network, EscapeEndsTheRoadWithClosedAndStatusZero)
{
    if (GetParam() == Where::xvfb) SKIP_WITHOUT_PROGRAM("xdotool");
    Stage stage(GetParam());
    SuiteListener suite;
    startConnected(stage, suite);
    show(stage, suite, formB({5, 5, 5}, {0, 0, 0}, 8, BOX));
    stage.pressEscape();
    EXPECT_EQ(stage.line(), "closed");
    EXPECT_EQ(stage.child().wait(), 0);
}

TEST(NetworkAddress, AWordThatIsNoAddressEndsTheRunBeforeAnyWindow)
{
    auto server = XServer::startXvfb({.width = W, .height = H});
    for (const char* word : {"127.0.0.1:0", "host:99999", "[::1", ":20002", "127.0.0.1:20002:1", "::1:5000"}) {
        const RunResult run = runToEnd({"--connect", word}, {{"DISPLAY", server->display()}});
        EXPECT_TRUE(startsWith(run.output, "error connect needs HOST[:PORT]")) << word;
        EXPECT_EQ(run.output.find("ready"), std::string::npos) << word;
        EXPECT_EQ(run.status, 1) << word;
        EXPECT_EQ(run.errors, "") << word;
    }
}

// A suite that hangs up at once, or another service on the port: the road comes back once a second.
TEST(NetworkPacing, ASuiteThatAcceptsAndClosesAtOnceSeesAboutOneConnectionASecond)
{
    Stage stage(Where::xvfb);
    SuiteListener suite;
    ASSERT_TRUE(stage.start(suite.address()));
    int connections = 0;
    const auto until = std::chrono::steady_clock::now() + 3s;
    for (auto left = 3000ms; left.count() > 0;
         left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())) {
        if (suite.accept(left)) ++connections;
        suite.hangUp();
    }
    EXPECT_GE(connections, 2);
    EXPECT_LE(connections, 6);  // three seconds, with slack; a storm makes thousands
}

TEST(NetworkPacing, AMessageTricklingInEndsAsABadMessageTenSecondsAfterItsFirstByte)
{
    Stage stage(Where::xvfb);
    SuiteListener suite;
    startConnected(stage, suite);
    const std::string message = suiteFrame(formB({1, 2, 3}, {0, 0, 0}, 8, BOX));  // 190-odd bytes, 95 s at this pace
    const auto first = std::chrono::steady_clock::now();
    std::jthread trickle([&](std::stop_token stop) {
        for (std::size_t i = 0; i < message.size() && !stop.stop_requested(); ++i) {
            if (!suite.send(message.substr(i, 1))) return;
            std::this_thread::sleep_for(500ms);
        }
    });
    EXPECT_EQ(stage.line(15s), "error bad message");
    const auto took = std::chrono::steady_clock::now() - first;
    EXPECT_GE(took, 9s);
    EXPECT_LE(took, 13s);
    EXPECT_EQ(stage.line(), "disconnected");
}

TEST(NetworkAddress, AHostWithoutAddressIsSaidOnceAndTriedAgain)
{
    Stage stage(Where::xvfb);
    ASSERT_TRUE(stage.start("suite.invalid:5000"));
    EXPECT_EQ(stage.line(), "error no address suite.invalid");
    EXPECT_EQ(stage.line(2500ms), "<none>");  // two more attempts or so, not said again
}

// The controller stops reading while the road waits: for a suite nobody runs, or on a connection the
// suite then ends.
TEST(NetworkOutput, AReaderThatIsGoneEndsTheRunWithStatusOne)
{
    for (const bool suiteRuns : {false, true}) {
        Stage stage(Where::xvfb);
        auto suite = std::make_unique<SuiteListener>();
        if (suiteRuns) {
            startConnected(stage, *suite);
        } else {
            const std::string address = suite->address();
            suite.reset();
            ASSERT_TRUE(stage.start(address));
        }
        stage.child().closeOutput();
        suite.reset();
        EXPECT_EQ(stage.child().wait(5s), 1) << (suiteRuns ? "connected" : "nobody listening");
    }
}

INSTANTIATE_TEST_SUITE_P(OnEachWindowSystem, Network, ::testing::Values(Where::xvfb, Where::sway), whereName);

TEST(NetworkDepth, TenBitsOnADepthThirtyScreenAreShownExactly)
{
    Stage stage(Where::xvfb, 30);
    SuiteListener suite;
    startConnected(stage, suite);
    show(stage, suite, formB({1023, 512, 1}, {3, 1000, 0}, 10, BOX));
    expectBoxOn(stage.shot(), {1023, 512, 1}, {3, 1000, 0});
    show(stage, suite, formB({1, 2, 1021}, {0, 0, 0}, 10, BOX));
    expectBoxOn(stage.shot(), {1, 2, 1021}, {0, 0, 0});
}

TEST(NetworkDepth, TenBitsOnAnEightBitScreenAreTheDitherMixAnchoredAtTheBottomLeft)
{
    Stage stage(Where::xvfb, 24);
    SuiteListener suite;
    startConnected(stage, suite);
    // 513 of 1023 is 127.87 of 255, 2 is 0.50, 1023 is 255.
    show(stage, suite, formB({513, 2, 1023}, {0, 0, 0}, 10, WHOLE));
    const Shot shot = stage.shot();
    struct Channel {
        double value;
        int lower;
        int Rgb::*sample;
    };
    for (const Channel c : {Channel{513 * 255.0 / 1023, 127, &Rgb::r}, Channel{2 * 255.0 / 1023, 0, &Rgb::g}}) {
        // One whole tile away from the hint; the upper level must sit on the matrix cells below some
        // threshold, counted from the display's bottom-left corner.
        const int x0 = 320, y0 = 200;
        int upper = 0;
        for (int y = y0; y < y0 + 16; ++y)
            for (int x = x0; x < x0 + 16; ++x) {
                const int v = shot.at(x, y).*c.sample;
                ASSERT_TRUE(v == c.lower || v == c.lower + 1) << v << " at " << x << "," << y;
                upper += v == c.lower + 1;
            }
        EXPECT_NEAR(c.lower + upper / 256.0, c.value, 1.0 / 128);
        const int cells = upper / 4;
        for (int y = y0; y < y0 + 16; ++y)
            for (int x = x0; x < x0 + 16; ++x) {
                const bool high = BAYER_MATRIX[tileRow(y, H) / 2][(x % 16) / 2] < cells;
                ASSERT_EQ(shot.at(x, y).*c.sample, c.lower + (high ? 1 : 0)) << x << "," << y;
                ASSERT_EQ(shot.at(x + 16, y + 16).*c.sample, shot.at(x, y).*c.sample);  // the tile repeats
            }
    }
    EXPECT_EQ(shot.at(400, 300).b, 255);
}

}  // namespace
}  // namespace pp::test
