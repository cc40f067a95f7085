// The presenter on the tests' own scripted compositor: what it commits, the content it leaves on the
// surface, and how it follows presentation reports and frame callbacks that the test holds back.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>
#include <thread>

#include "presenter_session.hpp"
#include "scripted_compositor.hpp"

namespace pp::test {
namespace {

using Colour = std::array<int, 3>;

// The last commit that attached a buffer.
ScriptedCommit lastFrame(const std::vector<ScriptedCommit>& commits)
{
    for (auto c = commits.rbegin(); c != commits.rend(); ++c) {
        if (c->newBuffer) return *c;
    }
    return {};
}

class OnScriptedCompositor : public ::testing::Test {
protected:
    // The presenter on a compositor of `options`, greeted.
    void start(ScriptedOptions options = {}, const std::vector<std::string>& args = {})
    {
        compositor_ = std::make_unique<ScriptedCompositor>(std::move(options));
        session_ = std::make_unique<ControllerSession>(args, compositor_->env());
        ASSERT_TRUE(startsWith(session_->greeting(), "ready {"));
    }

    std::unique_ptr<ScriptedCompositor> compositor_;
    std::unique_ptr<ControllerSession> session_;
};

TEST_F(OnScriptedCompositor, TheChosenOutputIsCoveredWithoutASeat)
{
    ScriptedOutput second{"SCRIPTED-2", 640, 0, 800, 600, 75000};
    ScriptedOptions options;
    options.outputs.push_back(second);
    compositor_ = std::make_unique<ScriptedCompositor>(options);
    const RunResult list = runToEnd({"--list-displays"}, compositor_->env());
    ASSERT_EQ(list.status, 0) << list.output;
    const auto displays = nlohmann::json::parse(list.output);
    ASSERT_EQ(displays.size(), 2u);
    EXPECT_EQ(displays[1]["output"], "SCRIPTED-2");
    EXPECT_EQ(displays[1]["frame"], nlohmann::json::array({640, 0, 800, 600}));

    session_ = std::make_unique<ControllerSession>(std::vector<std::string>{"--display", displays[1]["display_id"].dump()},
                                                   compositor_->env());
    ASSERT_TRUE(startsWith(session_->greeting(), "ready {"));
    EXPECT_EQ(session_->report()["pixels"], nlohmann::json::array({800, 600}));
    EXPECT_TRUE(compositor_->clientConnected());
    EXPECT_EQ(compositor_->fullscreenRequests(), std::vector<int>{1});
    const auto commits = compositor_->commits();
    ASSERT_GE(commits.size(), 2u);
    // The initial commit carries no buffer; the first frame follows the configure, covering the output.
    EXPECT_EQ(commits[0].bufferWidth, 0);
    const ScriptedCommit first = commits[1];
    EXPECT_TRUE(first.newBuffer);
    EXPECT_TRUE(first.afterConfigure);
    EXPECT_EQ(first.bufferWidth, 800);
    EXPECT_EQ(first.bufferHeight, 600);
    EXPECT_EQ(first.format, 1u);  // XRGB8888
    EXPECT_TRUE(first.wholeDamage);
    ASSERT_EQ(session_->ask("surround 20 40 60"), "surround");
    EXPECT_EQ(compositor_->pixel(0, 0), (Colour{20, 40, 60}));
    EXPECT_EQ(compositor_->pixel(799, 599), (Colour{20, 40, 60}));
    session_.reset();
    for (int i = 0; i < 100 && compositor_->clientConnected(); ++i) std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(compositor_->clientConnected());
}

TEST_F(OnScriptedCompositor, ThePatchIsShownWhereItWasDamagedAndOnlyThere)
{
    start();
    ASSERT_EQ(session_->ask("surround 20 40 60"), "surround");
    const std::size_t before = compositor_->commits().size();
    ASSERT_TRUE(painted(session_->ask("rgb 200 100 50")));
    EXPECT_EQ(compositor_->pixel(320, 240), (Colour{200, 100, 50}));
    EXPECT_EQ(compositor_->pixel(5, 5), (Colour{20, 40, 60}));
    const auto commits = compositor_->commits();
    ASSERT_GT(commits.size(), before);
    const ScriptedCommit patch = lastFrame(commits);
    EXPECT_FALSE(patch.wholeDamage);
    ASSERT_FALSE(patch.damage.empty());
    EXPECT_TRUE(patch.frameCallback);
    EXPECT_TRUE(patch.feedback);
    // The damage lies around the centre.
    for (const auto& r : patch.damage) {
        EXPECT_LT(r[0], 320);
        EXPECT_GT(r[0] + r[2], 320);
    }
    // Every report so far said presented, one per frame.
    const auto reports = compositor_->reports();
    EXPECT_TRUE(std::all_of(reports.begin(), reports.end(), [](const auto& r) { return r.presented; }));
}

TEST_F(OnScriptedCompositor, ADiscardedFrameIsCommittedAgainWhole)
{
    start();
    ASSERT_TRUE(painted(session_->ask("rgb 10 20 30")));
    compositor_->setFeedbackFor(1, FeedbackRule::discard);
    const std::size_t before = compositor_->commits().size();
    ASSERT_TRUE(painted(session_->ask("rgb 200 100 50")));
    const auto commits = compositor_->commits();
    ASSERT_EQ(commits.size(), before + 2);
    EXPECT_FALSE(commits[before].wholeDamage);
    EXPECT_TRUE(commits[before + 1].newBuffer);
    EXPECT_TRUE(commits[before + 1].wholeDamage);
    const auto reports = compositor_->reports();
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports[reports.size() - 2].commit, commits[before].number);
    EXPECT_FALSE(reports[reports.size() - 2].presented);
    EXPECT_EQ(reports.back().commit, commits[before + 1].number);
    EXPECT_TRUE(reports.back().presented);
    EXPECT_EQ(compositor_->pixel(320, 240), (Colour{200, 100, 50}));
}

TEST_F(OnScriptedCompositor, TheReplyWaitsForTheHeldBackFrameCallback)
{
    start();
    compositor_->setFrameCallbacks(false);
    const std::size_t before = compositor_->commits().size();
    session_->child().write("rgb 1 2 3\n");
    ASSERT_TRUE(compositor_->waitFor([&](const auto& commits) { return commits.size() > before; }, 5s));
    EXPECT_EQ(session_->child().readLine(300ms), std::nullopt);
    compositor_->setFrameCallbacks(true);
    EXPECT_TRUE(painted(session_->nextLine()));
}

// The options of a compositor that offers presentation-time but never reports (a headless sway).
ScriptedOptions neverReporting(int refreshMillihertz = 60000)
{
    ScriptedOptions options;
    options.neverReports = true;
    options.outputs[0].refreshMillihertz = refreshMillihertz;
    return options;
}

TEST_F(OnScriptedCompositor, FromACompositorThatNeverReportsTheFrameCallbackIsTakenAsShown)
{
    start(neverReporting());
    const int from = int(compositor_->commits().size());
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(painted(session_->ask("rgb 9 8 " + std::to_string(i))));
    EXPECT_EQ(compositor_->pixel(320, 240), (Colour{9, 8, 3}));
    EXPECT_EQ(int(compositor_->commits().size()), from + 4);
    const auto reports = compositor_->reports();
    EXPECT_TRUE(std::none_of(reports.begin(), reports.end(), [&](const auto& r) { return r.commit > from; }));
}

// "painted" is the moment the report states, unaltered, and the reply never comes before it: reported a
// little after the frame callback, or stating a moment just ahead of the report (as one compositor does,
// by less than a refresh).
TEST_F(OnScriptedCompositor, ThePaintedTimeIsTheStatedPresentationAndTheReplyComesAfterIt)
{
    start();
    for (const auto [delay, ahead] : {std::pair{20ms, 0ms}, std::pair{0ms, 10ms}}) {
        compositor_->setFeedback(FeedbackRule::present, delay);
        compositor_->setPresentedAhead(ahead);
        const double sent = wallClock();
        const std::string reply = session_->ask("rgb 40 50 " + std::to_string(ahead.count()));
        const double replied = wallClock();
        ASSERT_TRUE(painted(reply));
        const double stated = wallOfMonotonic(compositor_->reports().back().stated);
        EXPECT_NEAR(paintedTime(reply), stated, 0.0005);
        EXPECT_GE(paintedTime(reply), sent + 0.0095);
        EXPECT_LE(paintedTime(reply), replied);
    }
}

TEST_F(OnScriptedCompositor, OnceTheCompositorHasReportedAFrameCallbackIsNotTakenAsShown)
{
    start();
    compositor_->setFeedback(FeedbackRule::withhold);
    const double sent = wallClock();
    session_->child().write("rgb 1 2 3\n");
    EXPECT_EQ(session_->nextLine(30s), "error display does not show the window");
    EXPECT_GE(wallClock() - sent, 4.5);
    // Frames whose reports did not come went out again, whole.
    const auto commits = compositor_->commits();
    EXPECT_TRUE(commits.back().wholeDamage);
    EXPECT_EQ(session_->child().wait(), 1);
}

TEST_F(OnScriptedCompositor, AFrameWhoseReportDoesNotComeIsCommittedAgain)
{
    start();
    compositor_->setFeedbackFor(1, FeedbackRule::withhold);
    const std::size_t before = compositor_->commits().size();
    ASSERT_TRUE(painted(session_->ask("rgb 200 100 50")));
    const auto commits = compositor_->commits();
    ASSERT_EQ(commits.size(), before + 2);
    EXPECT_TRUE(commits[before + 1].wholeDamage);
    EXPECT_TRUE(compositor_->reports().back().presented);
    EXPECT_EQ(compositor_->pixel(320, 240), (Colour{200, 100, 50}));
}

TEST_F(OnScriptedCompositor, DeepFramesAreEightBitWhereTheOutputIsNotDescribed)
{
    // XRGB2101010 on offer, but no colour management: nothing says the compositor shows 10 bits as they are.
    ScriptedOptions options;
    options.deepFormat = true;
    start(options);
    ASSERT_EQ(session_->ask("mode deep"), "mode deep window_bits 16 screen_bits 8 layer RGBA16Uint");
    ASSERT_TRUE(painted(session_->ask("rgb 200 100 50")));
    EXPECT_EQ(lastFrame(compositor_->commits()).format, 1u);  // XRGB8888
    EXPECT_EQ(compositor_->pixel(320, 240), (Colour{200, 100, 50}));
}

TEST_F(OnScriptedCompositor, AConfigureSmallerThanTheOutputEndsTheRun)
{
    start();
    compositor_->setFullscreenAnswered(false);
    compositor_->configure(320, 240, false);
    EXPECT_EQ(session_->nextLine(5s), "error window does not cover the display");
    EXPECT_EQ(session_->child().wait(), 1);
}

TEST_F(OnScriptedCompositor, AReportThatComesLateCountsForItsFrameAndEndsTheSilence)
{
    start(neverReporting());
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(painted(session_->ask("rgb 9 8 " + std::to_string(i))));
    // Reports come back, a little after the frame callback. The compositor has been silent, so the next
    // frame is taken as shown at its frame callback; its report then comes late and still reaches the
    // frame it belongs to: the presenter sees the compositor report again, and waits for the report of
    // the frame after it. (A "discarded" alone would not say so: a compositor that never reports a
    // presentation may still discard superseded frames.)
    compositor_->setFeedback(FeedbackRule::present, 20ms);
    ASSERT_TRUE(painted(session_->ask("rgb 1 1 1")));
    const int frame = lastFrame(compositor_->commits()).number;
    const auto reported = [&] {
        const auto reports = compositor_->reports();
        return !reports.empty() && reports.back().commit == frame && reports.back().presented;
    };
    for (int i = 0; i < 500 && !reported(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(reported());
    const double sent = wallClock();
    const std::string reply = session_->ask("rgb 2 2 2");
    ASSERT_TRUE(painted(reply));
    EXPECT_GE(paintedTime(reply), sent + 0.019);
}

// Seconds from now until `reply` comes to the line just written.
double secondsUntilReply(ControllerSession& session, std::string& reply)
{
    const double from = wallClock();
    reply = session.nextLine(10s);
    return wallClock() - from;
}

// An output refreshed once a second: a presentation report is awaited 3 s after the frame callback, so
// whether a reply waited for one is plain.
ScriptedOptions slowRefresh()
{
    ScriptedOptions options;
    options.outputs[0].refreshMillihertz = 1000;
    return options;
}

TEST_F(OnScriptedCompositor, OneOverdueReportMakesTheFollowingFramesShownAtTheirFrameCallback)
{
    // The first frame's report is awaited 3 s after its frame callback.
    const double from = wallClock();
    start(neverReporting(1000));
    EXPECT_GE(wallClock() - from, 2.5);
    // That frame's report never came: the compositor gives none, and the next frame is not held for one.
    std::string reply;
    session_->child().write("rgb 9 8 2\n");
    EXPECT_LT(secondsUntilReply(*session_, reply), 2.0);
    ASSERT_TRUE(painted(reply));
}

TEST_F(OnScriptedCompositor, AFrameCommittedAgainAfterAConfigureIsShownByTheSecondCommitsReport)
{
    start(slowRefresh());
    compositor_->setFeedbackFor(1, FeedbackRule::withhold);
    const std::size_t before = compositor_->commits().size();
    const double sent = wallClock();
    session_->child().write("rgb 9 8 1\n");
    ASSERT_TRUE(compositor_->waitFor([&](const auto& commits) { return commits.size() > before; }, 5s));
    // A configure while the frame's report is awaited: the frame goes out again, whole, and the report
    // of that commit shows it, before the first commit's report would have fallen due.
    compositor_->configure(640, 480, true);
    const std::string reply = session_->nextLine(10s);
    ASSERT_TRUE(painted(reply));
    EXPECT_LT(wallClock() - sent, 3.0);
    // The configure was answered by that commit alone: no frame follows the reply.
    EXPECT_FALSE(compositor_->waitFor([&](const auto& commits) { return commits.size() > before + 2; }, 500ms));
    const auto commits = compositor_->commits();
    ASSERT_EQ(commits.size(), before + 2);
    EXPECT_TRUE(commits[before + 1].afterConfigure);
    EXPECT_TRUE(commits[before + 1].wholeDamage);
}

TEST_F(OnScriptedCompositor, AConfigureMakesTheNextFrameWhole)
{
    start();
    ASSERT_TRUE(painted(session_->ask("rgb 10 20 30")));
    const std::size_t before = compositor_->commits().size();
    compositor_->configure(640, 480, true);
    ASSERT_TRUE(compositor_->waitFor([&](const auto& commits) { return commits.size() > before; }, 5s));
    const ScriptedCommit next = compositor_->commits()[before];
    EXPECT_TRUE(next.afterConfigure);
    EXPECT_TRUE(next.wholeDamage);
    ASSERT_TRUE(painted(session_->ask("rgb 30 20 10")));
    EXPECT_EQ(compositor_->pixel(320, 240), (Colour{30, 20, 10}));
}

TEST_F(OnScriptedCompositor, AFrameNeitherComposedNorPresentedWithinFiveSecondsEndsTheRun)
{
    start();
    compositor_->setFrameCallbacks(false);
    compositor_->setFeedback(FeedbackRule::withhold);
    const double sent = wallClock();
    session_->child().write("rgb 1 2 3\n");
    EXPECT_EQ(session_->nextLine(30s), "error display does not show the window");
    EXPECT_GE(wallClock() - sent, 4.5);
    EXPECT_EQ(session_->child().wait(), 1);
}

TEST_F(OnScriptedCompositor, AnOutputTooLargeForTheProtocolsSizesIsRefusedAtStart)
{
    // Two frames of 23200 x 23200 pixels need more than the 2^31 bytes a pool can have.
    ScriptedOptions options;
    options.outputs[0].width = options.outputs[0].height = 23200;
    compositor_ = std::make_unique<ScriptedCompositor>(options);
    ControllerSession session({}, compositor_->env());
    EXPECT_TRUE(startsWith(session.greeting(), "error no window on screen "));
    EXPECT_EQ(session.child().wait(), 1);
}

// What the compositor does with the window once the first frame is on the screen.
struct Misplacement {
    const char* name;
    std::function<void(ScriptedCompositor&)> act;
    bool putBack;  // the compositor honours the request to be full-screen again
};

void PrintTo(const Misplacement& value, std::ostream* out)
{
    *out << value.name;
}

class Placement : public OnScriptedCompositor, public ::testing::WithParamInterface<Misplacement> {};

TEST_P(Placement, NoPaintedWhileTheWindowIsElsewhere)
{
    ScriptedOptions options;
    options.outputs.push_back({"SCRIPTED-2", 640, 0, 640, 480});
    start(options);
    ASSERT_TRUE(painted(session_->ask("rgb 10 20 30")));
    const std::size_t asked = compositor_->fullscreenRequests().size();
    // The test puts the window back itself, or not at all.
    compositor_->setFullscreenAnswered(false);
    GetParam().act(*compositor_);
    session_->child().write("rgb 200 100 50\n");
    if (GetParam().putBack) {
        for (int i = 0; i < 500 && compositor_->fullscreenRequests().size() == asked; ++i) std::this_thread::sleep_for(10ms);
        ASSERT_GT(compositor_->fullscreenRequests().size(), asked);
        EXPECT_EQ(compositor_->fullscreenRequests().back(), 0);
        EXPECT_EQ(session_->child().readLine(300ms), std::nullopt) << "answered while elsewhere";
        compositor_->configure(640, 480, true);
        compositor_->leaveOutput(1);
        compositor_->enterOutput(0);
        EXPECT_TRUE(painted(session_->nextLine()));
        EXPECT_EQ(compositor_->pixel(320, 240), (Colour{200, 100, 50}));
        ASSERT_TRUE(painted(session_->ask("rgb 1 2 3")));
        return;
    }
    EXPECT_EQ(session_->nextLine(5s), "error window does not cover the display");
    EXPECT_EQ(session_->child().wait(), 1);
    EXPECT_GT(compositor_->fullscreenRequests().size(), asked);
}

const Misplacement MISPLACEMENTS[] = {
    {"MovedToAnotherOutput", [](ScriptedCompositor& c) { c.leaveOutput(0); c.enterOutput(1); }, false},
    {"MovedAndPutBack", [](ScriptedCompositor& c) { c.leaveOutput(0); c.enterOutput(1); }, true},
    {"NoLongerFullScreen", [](ScriptedCompositor& c) { c.configure(640, 480, false); }, false},
    {"NoLongerFullScreenAndPutBack", [](ScriptedCompositor& c) { c.configure(640, 480, false); }, true},
    {"LeftEveryOutput", [](ScriptedCompositor& c) { c.leaveOutput(0); }, false},
};

INSTANTIATE_TEST_SUITE_P(Scripted, Placement, ::testing::ValuesIn(MISPLACEMENTS),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pp::test
