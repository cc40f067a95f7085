// The start-up failures and fallbacks of the real binary under a real X server.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "child_process.hpp"
#include "presenter_session.hpp"
#include "x_server.hpp"

namespace pp::test {
namespace {

class StartupUnderXvfb : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = XServer::startXvfb({.width = 1024, .height = 700}).release(); }
    static void TearDownTestSuite() { delete server; }
    static std::map<std::string, std::string> env() { return {{"DISPLAY", server->display()}}; }
    static XServer* server;
};

XServer* StartupUnderXvfb::server = nullptr;

TEST_F(StartupUnderXvfb, AnUnknownDisplayNumberIsAnErrorWithStatusOne)
{
    for (const char* word : {"7", "07", "+7", "-0"}) {
        const auto result = runToEnd({"--display", word}, env());
        const std::string number = std::string(word) == "-0" ? "0" : "7";
        EXPECT_EQ(result.output, "error no screen " + number + "\n") << word;
        EXPECT_EQ(result.status, 1) << word;
        EXPECT_EQ(result.errors, "");
    }
}

TEST_F(StartupUnderXvfb, AnUnknownDisplayIsReportedBeforeAnyRoad)
{
    const auto result = runToEnd({"--profile-state", "--display", "3"}, env());
    EXPECT_EQ(result.output, "error no screen 3\n");
    EXPECT_EQ(result.status, 1);
}

TEST_F(StartupUnderXvfb, AnUnusableDisplayWordSelectsTheMainScreen)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--display", "abc"}, {"--display"}, {"--display", "4294967296"}, {"--display", "7x"},
        {"--display", " 7"}, {"--mm", "50", "--display"}, {"--display", "-1"}};
    // The main screen's number, as the greeting of a run without --display gives it.
    const auto plain = runToEnd({}, env());
    ASSERT_TRUE(startsWith(plain.output, "ready {"));
    const auto mainId = nlohmann::json::parse(plain.output.substr(6))["display_id"];
    for (const auto& args : cases) {
        const auto result = runToEnd(args, env());
        ASSERT_TRUE(startsWith(result.output, "ready {")) << args.back();
        EXPECT_EQ(nlohmann::json::parse(result.output.substr(6))["display_id"], mainId) << args.back();
        EXPECT_EQ(result.status, 0) << args.back();
        EXPECT_EQ(result.errors, "");
    }
}

TEST(StartupWithoutServer, NoXServerMeansNoMainScreen)
{
    for (const char* display : {":4093", "nosuchhost.invalid:0", ""}) {
        const auto result = runToEnd({}, {{"DISPLAY", display}});
        EXPECT_EQ(result.output, "error no screen main\n") << display;
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.errors, "");
    }
    const auto asked = runToEnd({"--display", "5"}, {{"DISPLAY", ":4093"}});
    EXPECT_EQ(asked.output, "error no screen 5\n");
    EXPECT_EQ(asked.status, 1);
}

}  // namespace
}  // namespace pp::test
