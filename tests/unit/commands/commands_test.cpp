#include "commands/commands.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <nlohmann/json.hpp>

#include "presenter_stage.hpp"

namespace pp {
namespace {

// Runs handed-over work at once on the calling thread and counts it.
class InlineMainLoop : public MainLoop {
public:
    int handovers = 0;
    bool runOnMain(std::function<void()> work) override
    {
        ++handovers;
        work();
        return true;
    }
    void run(EventHandler&) override {}
};

// The commands on the presenter's stage, their work handed over inline.
struct CommandFixture : ::testing::Test {
    std::unique_ptr<PresenterStage> stage;
    headless::HeadlessWindow* window = nullptr;
    Presenter* presenter = nullptr;
    InlineMainLoop loop;
    std::unique_ptr<CommandSet> commands;

    void SetUp() override { start(24); }
    void start(int depth)
    {
        commands.reset();
        stage = std::make_unique<PresenterStage>(ProcessHooks{}, depth);
        window = &stage->window;
        presenter = &stage->presenter;
        commands = std::make_unique<CommandSet>(*presenter, loop, [] { return 1700000000.0; });
    }
    std::optional<std::string> reply(std::string_view line) { return commands->answer(std::string(line)).line; }
    const PatchView& view() { return presenter->view(); }
    Point centre() { return {view().patch.x + view().patch.width / 2, view().patch.y + view().patch.height / 2}; }
};

struct RejectedCase {
    const char* line;
    const char* error;
};

TEST_F(CommandFixture, RejectedCommandsAnswerTheirErrorAndChangeNothing)
{
    const std::vector<RejectedCase> cases{
        {"rgb 1 2", "error rgb needs three numbers"},
        {"rgb 1 2 3 4", "error rgb needs three numbers"},
        {"rgb", "error rgb needs three numbers"},
        {"rgb 1,2,3", "error rgb needs three numbers"},
        {"move 0.5", "error move needs two fractions"},
        {"move", "error move needs two fractions"},
        {"move 0.1 0.2 0.3", "error move needs two fractions"},
        {"surround 1 2", "error surround needs three numbers"},
        {"surround x y z", "error surround needs three numbers"},
        {"mode Deep", "error mode is flat, dither or deep"},
        {"mode", "error mode is flat, dither or deep"},
        {"mode deep ", "error mode is flat, dither or deep"},
        {"mode  deep", "error mode is flat, dither or deep"},
        {"Quit", "error unknown command"},
        {"INFO", "error unknown command"},
        {"rgb\t10 20 30", "error unknown command"},
        {"mo", "error unknown command"},
        {"rgb, 1 2 3", "error unknown command"},
    };
    auto state = [&] {
        const PatchView& v = view();
        return std::tuple(v.rgb, v.surround, v.patch, v.mode, v.mark, v.caption, window->presentCount());
    };
    reply("mark on");
    reply("text caption");
    const auto before = state();
    loop.handovers = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(reply(c.line), c.error) << c.line;
        EXPECT_EQ(state(), before) << c.line;
    }
    EXPECT_EQ(loop.handovers, 0);
}

TEST_F(CommandFixture, RgbAndSurroundStoreTheNumbersUnchangedAndRedraw)
{
    EXPECT_EQ(reply("rgb 255 128 0"), "painted 1700000000.0");
    EXPECT_EQ(view().rgb, (std::array<double, 3>{255, 128, 0}));
    EXPECT_EQ(window->presentCount(), 1);
    EXPECT_EQ(reply("  rgb 10 x 20 30"), "painted 1700000000.0");
    EXPECT_EQ(view().rgb, (std::array<double, 3>{10, 20, 30}));
    EXPECT_EQ(reply("rgb 300 -5 0.5"), "painted 1700000000.0");
    EXPECT_EQ(view().rgb, (std::array<double, 3>{300, -5, 0.5}));
    EXPECT_EQ(reply("surround 20 20 20"), "surround");
    EXPECT_EQ(view().surround, (std::array<double, 3>{20, 20, 20}));
    EXPECT_EQ(window->shownPixel(999, 0), 0x141414u);  // read back from the presented frame
    EXPECT_EQ(window->presentCount(), 4);
    EXPECT_EQ(loop.handovers, 4);
}

TEST_F(CommandFixture, PaintedCarriesTheWallClockByDefault)
{
    CommandSet real(*presenter, loop);
    const auto line = real.answer("rgb 1 2 3").line.value();
    ASSERT_TRUE(line.starts_with("painted "));
    EXPECT_NEAR(std::stod(line.substr(8)), static_cast<double>(time(nullptr)), 2);
}

struct MoveCase {
    const char* line;
    Point centre;
};

TEST_F(CommandFixture, MovePlacesTheCentreByClampedFractions)
{
    const std::vector<MoveCase> cases{
        {"move 0.5 0.5", {500, 400}},    {"move 0 0", {0, 800}},        {"move -3 7", {0, 0}},
        {"move 0.25 0.75", {250, 200}},  {"move nan 0.25", {500, 600}}, {"move inf -inf", {1000, 800}},
        {"move 1 nan", {1000, 400}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reply(c.line), "moved") << c.line;
        EXPECT_EQ(centre(), c.centre) << c.line;
        EXPECT_EQ(view().patch.width, 260);
    }
    EXPECT_EQ(window->presentCount(), static_cast<int>(cases.size()));
    EXPECT_EQ(position(view().patch, 1000, 800), "1.00000 0.50000");
}

TEST_F(CommandFixture, MarkIsOnOnlyForExactlyOnAndShowsThePointerOnce)
{
    EXPECT_TRUE(presenter->cursorHidden());
    EXPECT_EQ(reply("mark on"), "mark on");
    EXPECT_EQ(reply("mark on"), "mark on");
    EXPECT_TRUE(view().mark);
    EXPECT_TRUE(window->pointerVisible());
    EXPECT_EQ(window->pointerChanges(), 1);
    for (const char* off : {"mark On", "mark", "mark off", "mark on ", "mark  on"}) {
        EXPECT_EQ(reply(off), "mark off") << off;
        EXPECT_FALSE(view().mark);
    }
    EXPECT_FALSE(window->pointerVisible());
    EXPECT_EQ(window->pointerChanges(), 2);
}

TEST_F(CommandFixture, TextSetsTheCaptionBlanksIncluded)
{
    EXPECT_EQ(reply("text  two words "), "text");
    EXPECT_EQ(view().caption, " two words ");
    EXPECT_EQ(reply("text"), "text");
    EXPECT_EQ(view().caption, "");
}

TEST_F(CommandFixture, ModeChoosesTheDrawingSurfaceAndReportsItReadBack)
{
    EXPECT_EQ(reply("mode deep"), "mode deep window_bits 16 screen_bits 8 layer RGBA16Uint");
    EXPECT_EQ(view().mode, Mode::deep);
    EXPECT_EQ(reply("mode flat"), "mode flat window_bits 8 screen_bits 8 layer RGBA8Uint");
    EXPECT_EQ(reply("mode dither"), "mode dither window_bits 8 screen_bits 8 layer RGBA8Uint");
    EXPECT_EQ(window->presentCount(), 3);

    start(30);
    EXPECT_EQ(reply("mode deep"), "mode deep window_bits 16 screen_bits 10 layer RGBA16Uint");
}

TEST_F(CommandFixture, InfoAndTheGreetingCarryAFreshReport)
{
    EXPECT_EQ(commands->greeting(), "ready " + presenter->report());
    reply("move 0.25 0.75");
    reply("mode flat");
    const auto answer = reply("info now");
    EXPECT_EQ(answer, reply("info"));
    ASSERT_TRUE(answer->starts_with("info {"));
    const auto report = nlohmann::json::parse(answer->substr(5));
    EXPECT_EQ(report["paint"], "flat");
    EXPECT_EQ(report["position"], nlohmann::json::parse("[0.25,0.75]"));
    EXPECT_EQ(window->presentCount(), 2);  // reports draw nothing
}

TEST_F(CommandFixture, QuitAndBlankLinesWriteNothing)
{
    for (const auto& [line, quit] :
         {std::pair{"quit", true}, {"quit later", true}, {" quit", true}, {"", false}, {"   ", false}}) {
        const Reply r = commands->answer(line);
        EXPECT_EQ(r.quit, quit) << '"' << line << '"';
        EXPECT_FALSE(r.line) << '"' << line << '"';
    }
    EXPECT_EQ(loop.handovers, 0);
}

// "painted" carries the window system's own time of the presentation, unaltered, when it tells one (the
// window returns no earlier than that moment); else the time of the reply.
TEST_F(CommandFixture, PaintedCarriesThePresentationTimeAsTheWindowSystemStatesIt)
{
    struct Case {
        std::optional<double> reported;
        const char* painted;
    };
    for (const Case& c : {Case{150.25, "painted 150.25"}, Case{50.0, "painted 50.0"}, Case{std::nullopt, "painted 200.0"}}) {
        CommandSet timed(*presenter, loop, [] { return 200.0; });
        window->reportPresentationsAt(c.reported);
        EXPECT_EQ(timed.answer("rgb 1 2 3").line, c.painted);
    }
}

// Counts the queries a status report makes.
class CountingDisplays : public headless::HeadlessDisplays {
public:
    int screenQueries = 0;
    int tableQueries = 0;
    int profileQueries = 0;
    std::vector<Screen> screens() override
    {
        ++screenQueries;
        return HeadlessDisplays::screens();
    }
    TransferTable transferTable(std::uint32_t number, std::size_t capacity) override
    {
        ++tableQueries;
        return HeadlessDisplays::transferTable(number, capacity);
    }
    std::vector<std::uint8_t> advertisedProfile(std::uint32_t number) override
    {
        ++profileQueries;
        return HeadlessDisplays::advertisedProfile(number);
    }
};

TEST(PresenterReport, ReadsTheDisplayOnceAndNamesTheProfileFromTheBytesReadWithIt)
{
    const Screen screen = headless::headlessScreen(3, {0, 0, 1000, 800}, {250, 200});
    CountingDisplays displays;
    displays.screenList = {screen};
    displays.profiles[3] = {'a', 'b', 'c'};
    headless::HeadlessWindow window(screen);
    std::vector<std::vector<std::uint8_t>> seen;
    Presenter presenter(window, displays, screen, patchGeometry({}, screen), {},
                        [&seen](const DisplayReading& reading) {
                            const auto& advertised = reading.advertisedProfile;
                            seen.push_back(advertised);
                            return std::string("named from ") + std::string(advertised.begin(), advertised.end());
                        });
    const auto report = nlohmann::json::parse(presenter.report());
    EXPECT_EQ(report["profile"], "named from abc");
    EXPECT_EQ(seen, (std::vector<std::vector<std::uint8_t>>{{'a', 'b', 'c'}}));
    EXPECT_EQ(displays.screenQueries, 1);
    EXPECT_EQ(displays.tableQueries, 1);
    EXPECT_EQ(displays.profileQueries, 1);

    displays.profiles.clear();  // read afresh: the next report sees the profile gone
    EXPECT_EQ(nlohmann::json::parse(presenter.report())["profile"], "named from ");
    EXPECT_EQ(displays.screenQueries, 2);
}

}  // namespace
}  // namespace pp
