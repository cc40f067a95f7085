#include "app/usage.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

namespace pp {
namespace {

TEST(Usage, NamesEveryOptionAndEveryReplyTheProgramKnows)
{
    const std::string text = usageText();
    for (const char* word : {"--display N", "--mm W H", "--shift X Y", "--pos FX FY", "--platform",
                             "--list-displays", "--profile-state", "--assign PATH|none", "--help", "--version",
                             "rgb R G B", "painted T", "error rgb needs three numbers", "move FX FY", "moved",
                             "error move needs two fractions", "surround R G B", "error surround needs three numbers",
                             "mark on|off", "text CAPTION", "window_bits", "error mode is flat, dither or deep",
                             "info {status report}", "quit", "error unknown command", "ready", "position FX FY",
                             "key space", "closed", "man patch-presenter", "--connect HOST[:PORT]",
                             "connected HOST PORT", "error bad message", "disconnected"}) {
        EXPECT_NE(text.find(word), std::string::npos) << word;
    }
}

TEST(Usage, FitsAnEightyColumnTerminalAndEndsItsLastLine)
{
    const std::string text = usageText();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) EXPECT_LE(line.size(), 80u) << line;
}

TEST(Usage, TheVersionLineIsTheProgramNameAndADottedVersion)
{
    EXPECT_TRUE(std::regex_match(versionLine(), std::regex(R"(patch-presenter [0-9]+\.[0-9]+\.[0-9]+)")))
        << versionLine();
}

}  // namespace
}  // namespace pp
