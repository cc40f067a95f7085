#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <thread>
#include <fcntl.h>
#include <unistd.h>

#include "commands/command_split.hpp"
#include "commands/line_reader.hpp"
#include "commands/number_list.hpp"
#include "commands/utf8_repair.hpp"
#include "presenter/seconds_text.hpp"

namespace pp {
namespace {

using Lines = std::vector<std::string>;

// Every line a LineReader takes from a pipe that carries `bytes` and then ends.
Lines linesThroughPipe(const std::string& bytes)
{
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    std::thread writer([&] {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fds[1], bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        close(fds[1]);
    });
    LineReader reader(fds[0]);
    Lines lines;
    while (auto line = reader.next()) lines.push_back(*line);
    EXPECT_FALSE(reader.next());
    writer.join();
    close(fds[0]);
    return lines;
}

TEST(LineReader, CutsAtLineFeedsDropsOneCarriageReturnBeforeThemAndTakesALastLineWhole)
{
    const std::string longLine = "text " + std::string(5'000'000, 'w');
    const std::string x(200'000, 'x');
    struct Case {
        const char* what;
        std::string bytes;
        Lines lines;
    };
    const Case cases[] = {
        {"line feeds", "a\nb c\n", {"a", "b c"}},
        {"a carriage return before them", "a\r\nb\r\n", {"a", "b"}},
        {"only one, and none elsewhere", "a\r\r\nb\rc\n", {"a\r", "b\rc"}},
        {"empty lines", "\n\r\n", {"", ""}},
        {"nothing", "", {}},
        {"a last line without terminator", "info\nquit", {"info", "quit"}},
        {"a last carriage return kept", "x\r", {"x\r"}},
        {"no length limit", longLine + "\r\n" + longLine + "\nnext", {longLine, longLine, "next"}},
        // The long line ends inside a chunk that also holds the next lines and the start of another.
        {"lines behind a long one in the same read", x + "\nshort\n\n" + x + "y\r\nlast", {x, "short", "", x + "y", "last"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Lines got = linesThroughPipe(c.bytes);
        ASSERT_EQ(got.size(), c.lines.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_TRUE(got[i] == c.lines[i]) << "line " << i << ", " << got[i].size() << " bytes: " << got[i].substr(0, 40);
    }
}

TEST(LineReader, EndsWhenReadingFails)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    LineReader reader(fds[1]);  // the write end cannot be read
    EXPECT_FALSE(reader.next());
    close(fds[0]);
    close(fds[1]);
}

struct Utf8Case {
    std::string in;
    std::string out;
};

TEST(RepairedUtf8, ReplacesEachMaximalIllFormedSubpart)
{
    const std::string r = "\xEF\xBF\xBD";
    const std::vector<Utf8Case> cases{
        {"rgb 1 2 3", "rgb 1 2 3"},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
        {"\xFF", r},
        {"a\xE2\x82" "A", "a" + r + "A"},     // truncated sequence: one replacement
        {"\xC0\xAF", r + r},                   // overlong: two
        {"\xED\xA0\x80", r + r + r},           // surrogate
        {"\xF4\x90\x80\x80", r + r + r + r},   // above U+10FFFF
        {"\xF0\x9F\x98", r},                   // cut at the end
        {"\x80\xBF" "x", r + r + "x"},         // lone continuation bytes
        {"text \xE9t\xE9", "text " + r + "t" + r},
        {"/\xE0\x80\xAF", "/" + r + r + r},        // overlong three-byte solidus: E0 allows A0..BF next
        {"/\xF0\x80\x80\xAF", "/" + r + r + r + r},  // overlong four-byte solidus: F0 allows 90..BF next
        {"\xC1\xBF", r + r},                        // C1 starts nothing
        {"\xE0\xA0\x80", "\xE0\xA0\x80"},          // the smallest three-byte form is well formed
        {"\xF0\x90\x80\x80", "\xF0\x90\x80\x80"},  // and the smallest four-byte form
        {std::string(20, 'a') + "\xC0\xAF" + std::string(20, 'b'), std::string(20, 'a') + r + r + std::string(20, 'b')},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(repairedUtf8(c.in), c.out) << c.in;
        EXPECT_EQ(repairedLine(c.in), c.out) << c.in;
    }
}

TEST(RepairedLine, GivesBackWellFormedTextWithoutCopyingIt)
{
    std::string line = "text " + std::string(1'000'000, 'w') + "\xC3\xA9";
    const char* const storage = line.data();
    const std::string repaired = repairedLine(std::move(line));
    EXPECT_EQ(repaired.data(), storage);
    EXPECT_EQ(repaired.size(), 1'000'007u);
}

TEST(LineReader, WaitsOnANonBlockingDescriptorInsteadOfEnding)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK), 0);
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(write(fds[1], "info\n", 5), 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(write(fds[1], "quit", 4), 4);
        close(fds[1]);
    });
    LineReader reader(fds[0]);
    EXPECT_EQ(reader.next(), "info");
    EXPECT_EQ(reader.next(), "quit");
    EXPECT_FALSE(reader.next());
    writer.join();
    close(fds[0]);
}

struct SplitCase {
    std::string line;
    std::optional<CommandText> split;
};

TEST(SplitCommand, SeparatesAtTheFirstBlankOnly)
{
    const std::vector<SplitCase> cases{
        {"rgb 10 20 30", CommandText{"rgb", "10 20 30"}},
        {"  rgb 10 20 30", CommandText{"rgb", "10 20 30"}},
        {"text  two words ", CommandText{"text", " two words "}},
        {"text ", CommandText{"text", ""}},
        {"info", CommandText{"info", ""}},
        {"rgb\t10 20 30", CommandText{"rgb\t10", "20 30"}},
        {"\tinfo", CommandText{"\tinfo", ""}},
        {"", std::nullopt},
        {"    ", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto got = splitCommand(c.line);
        ASSERT_EQ(got.has_value(), c.split.has_value()) << c.line;
        if (!got) continue;
        EXPECT_EQ(got->word, c.split->word) << c.line;
        EXPECT_EQ(got->argument, c.split->argument) << c.line;
    }
}

TEST(NumberList, KeepsTheWordsThatAreNumbersInOrder)
{
    EXPECT_EQ(numberList("10 x 20 30"), (std::vector<double>{10, 20, 30}));
    EXPECT_EQ(numberList("  1   -2.5e1  "), (std::vector<double>{1, -25}));
    EXPECT_EQ(numberList("0x1p3 +.5"), (std::vector<double>{8, 0.5}));
    EXPECT_EQ(numberList("1,5 5mm \t1 1e999 1e-999 x"), std::vector<double>{});
    const auto special = numberList("inf nan");
    ASSERT_EQ(special.size(), 2u);
    EXPECT_TRUE(std::isinf(special[0]));
    EXPECT_TRUE(std::isnan(special[1]));
}

TEST(SecondsText, IsTheShortestPositionalDecimalWithAPoint)
{
    EXPECT_EQ(secondsText(1700000000), "1700000000.0");
    EXPECT_EQ(secondsText(0), "0.0");
    EXPECT_EQ(secondsText(1700000000.25), "1700000000.25");
    EXPECT_EQ(secondsText(0.3), "0.3");
    EXPECT_EQ(secondsText(1e-7), "0.0000001");
    EXPECT_EQ(secondsText(1e21), "1000000000000000000000.0");
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> times(1e9, 4e9);
    for (int i = 0; i < 2000; ++i) {
        const double t = i == 0 ? wallClock() : times(random);
        const std::string text = secondsText(t);
        ASSERT_EQ(text.find_first_of("eE"), std::string::npos) << text;
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), t) << text;
        // One digit fewer no longer reads back.
        const std::string shorter = text.substr(0, text.size() - 1);
        if (shorter.back() != '.') {
            EXPECT_NE(std::strtod(shorter.c_str(), nullptr), t) << text;
        }
    }
}

}  // namespace
}  // namespace pp
