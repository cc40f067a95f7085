// A running presenter, driven as a controller drives it: under a test X server, or (see
// wayland_presenter_session.hpp) on a test compositor; and the dummy-driver Xorg servers it runs under.
#pragma once

#include <array>
#include <ctime>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "child_process.hpp"
#include "pixels.hpp"
#include "x_server.hpp"

namespace pp::test {

// The presenter started with `args` and the environment `env`, driven as a controller drives it.
class ControllerSession {
public:
    ControllerSession(const std::vector<std::string>& args, const std::map<std::string, std::string>& env)
    {
        std::vector<std::string> argv = {presenterPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        child_ = std::make_unique<ChildProcess>(argv, env);
        greeting_ = child_->readLine(20s).value_or("");
    }

    const std::string& greeting() const { return greeting_; }

    // The report in the greeting.
    nlohmann::json report() const { return nlohmann::json::parse(greeting_.substr(6)); }

    // Sends one command and waits for its reply line.
    std::string ask(const std::string& command)
    {
        child_->write(command + "\n");
        return child_->readLine().value_or("<no reply>");
    }

    // The report in the reply to "info"; null, with a failure, when the reply is something else.
    nlohmann::json info()
    {
        const std::string reply = ask("info");
        if (reply.starts_with("info ")) return nlohmann::json::parse(reply.substr(5));
        ADD_FAILURE() << "not an info reply: " << reply;
        return nullptr;
    }

    // The next line the presenter writes, or "<none>" when none comes within `timeout`.
    std::string nextLine(std::chrono::milliseconds timeout = 10s) { return child_->readLine(timeout).value_or("<none>"); }

    ChildProcess& child() { return *child_; }

private:
    std::unique_ptr<ChildProcess> child_;
    std::string greeting_;
};

// A running presenter under a test X server, its pixels read back from the server.
class PresenterSession : public ControllerSession {
public:
    PresenterSession(const XServer& server, const std::vector<std::string>& args = {},
                     std::map<std::string, std::string> env = {})
        : ControllerSession(args, withDisplay(std::move(env), server)), server_(server)
    {
    }

    Rgb pixel(int x, int y) const { return readRoot(server_.display(), x, y, 1, 1).at(x, y); }
    RootImage area(int x, int y, int w, int h) const { return readRoot(server_.display(), x, y, w, h); }

private:
    static std::map<std::string, std::string> withDisplay(std::map<std::string, std::string> env,
                                                          const XServer& server)
    {
        env["DISPLAY"] = server.display();
        return env;
    }

    const XServer& server_;
};

// Whether `text` begins with `prefix`; the failure shows the whole text.
inline ::testing::AssertionResult startsWith(const std::string& text, const std::string& prefix)
{
    if (text.starts_with(prefix)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << '"' << text << "\" does not begin with \"" << prefix << '"';
}

// Whether `reply` is a "painted" reply.
inline ::testing::AssertionResult painted(const std::string& reply)
{
    return startsWith(reply, "painted ");
}

// The presentation time in a "painted T" reply.
inline double paintedTime(const std::string& reply)
{
    return std::stod(reply.substr(8));
}

// The command that paints the colour of whole levels `c`.
inline std::string rgbCommand(Rgb c)
{
    return "rgb " + std::to_string(c.r) + " " + std::to_string(c.g) + " " + std::to_string(c.b);
}

// The fractions in a "position X Y" line.
inline std::pair<double, double> positionFractions(const std::string& line)
{
    std::istringstream words(line.substr(9));
    double x = 0, y = 0;
    words >> x >> y;
    return {x, y};
}

// DUMMY0 (1600 x 1000, 400 x 250 mm), the primary, and DUMMY1 (1280 x 1024, 340 x 270 mm) right of it.
inline const std::vector<DummyOutput> TWO_DUMMY_OUTPUTS = {{1600, 1000, 400, 250}, {1280, 1024, 340, 270}};
// DUMMY0 (1280 x 800, 300 x 200 mm), the primary, and DUMMY1 (1600 x 1000, 400 x 250 mm) right of it, at
// (1280, 0): for a test that chooses DUMMY1 and changes the outputs under the presenter.
inline const std::vector<DummyOutput> CHOSEN_SECOND_OUTPUT = {{1280, 800, 300, 200}, {1600, 1000, 400, 250}};

// A suite whose tests share one Xorg with the dummy driver's `OUTPUTS`, and are skipped where Xorg is not
// installed. `Base` is ::testing::Test, or ::testing::TestWithParam<T> for a parameterised suite.
template <const std::vector<DummyOutput>& OUTPUTS, class Base = ::testing::Test>
class DummyXorgSuite : public Base {
protected:
    static void SetUpTestSuite()
    {
        if (haveProgram("Xorg")) server = XServer::startXorgDummy(OUTPUTS).release();
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        if (!server) GTEST_SKIP() << "Xorg is not installed";
    }

    static inline XServer* server = nullptr;
};

// The dither tile's value at a screen pixel: the tile is anchored at the display's bottom-left corner.
inline int tileRow(int y, int screenHeight)
{
    return ((y - screenHeight) % 16 + 16) % 16;
}

inline constexpr int BAYER_MATRIX[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21}};

// The colour the dither checks show: a red fraction whose pattern repeats only every 16 rows, so that a
// tile anchored anywhere but at the display's bottom-left corner shows.
inline constexpr const char* DITHER_COMMAND = "rgb 127.3 64 10";
inline constexpr double DITHER_RED_FRACTION = 0.3;

// Checks that the 16 x 16 square around (cx, cy) of `image` (anything with at(x, y) in screen pixels)
// shows DITHER_COMMAND dithered: red 128 where the cell's threshold (index + 0.5) / 64 is below the
// fraction, each cell 2 x 2 pixels, and 127 elsewhere, with the tile anchored at the bottom-left corner
// of a screen `screenHeight` high.
template <class Image>
void expectDitherTile(const Image& image, int cx, int cy, int screenHeight)
{
    int upper = 0, lit = 0;
    for (const auto& row : BAYER_MATRIX)
        for (int b : row) lit += (b + 0.5) / 64 < DITHER_RED_FRACTION;
    for (int y = cy - 8; y < cy + 8; ++y)
        for (int x = cx - 8; x < cx + 8; ++x) {
            const Rgb p = image.at(x, y);
            const int b = BAYER_MATRIX[tileRow(y, screenHeight) / 2][(x % 16) / 2];
            ASSERT_EQ(p.r, (b + 0.5) / 64 < DITHER_RED_FRACTION ? 128 : 127) << "at " << x << "," << y;
            ASSERT_EQ(p.g, 64) << "at " << x << "," << y;
            ASSERT_EQ(p.b, 10) << "at " << x << "," << y;
            upper += p.r == 128;
        }
    EXPECT_EQ(upper, 4 * lit);
}

// The moment `monotonic` (CLOCK_MONOTONIC seconds) on the wall clock.
inline double wallOfMonotonic(double monotonic)
{
    timespec m{}, w{};
    clock_gettime(CLOCK_MONOTONIC, &m);
    clock_gettime(CLOCK_REALTIME, &w);
    return monotonic + (double(w.tv_sec) + w.tv_nsec / 1e9) - (double(m.tv_sec) + m.tv_nsec / 1e9);
}

// The mean red, green and blue of the 16 x 16 square around (cx, cy): one whole dither tile, whatever
// its anchoring.
template <class Image>
std::array<double, 3> tileAverage(const Image& image, int cx, int cy)
{
    std::array<double, 3> sum{};
    for (int y = cy - 8; y < cy + 8; ++y)
        for (int x = cx - 8; x < cx + 8; ++x) {
            const Rgb p = image.at(x, y);
            sum[0] += p.r;
            sum[1] += p.g;
            sum[2] += p.b;
        }
    for (double& s : sum) s /= 256;
    return sum;
}

}  // namespace pp::test
