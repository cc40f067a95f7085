// The presenter on a display it drives itself (KMS), in the test guest's vkms: the list, the levels in
// the scanned-out buffer, "painted" on the vblank grid, the refused mode and signal, a device another
// master holds, the network road, and the display put back as it was found.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <map>
#include <sstream>

#include "kms_guest.hpp"
#include "presenter_session.hpp"

namespace pp::test {
namespace {

// The sections a guest script prints as "== NAME" followed by its lines.
std::map<std::string, std::string> sections(const std::string& output)
{
    std::map<std::string, std::string> found;
    std::istringstream lines(output);
    std::string line, name;
    while (std::getline(lines, line)) {
        if (line.rfind("== ", 0) == 0) {
            name = line.substr(3);
            found[name];
        } else if (!name.empty()) {
            found[name] += line + "\n";
        }
    }
    return found;
}

// The 8-bit (or 16-bit) channels of the probe's "FORMAT R G B bytes HEX" lines.
std::vector<std::array<long, 3>> probed(const std::string& lines)
{
    std::vector<std::array<long, 3>> pixels;
    std::istringstream in(lines);
    std::string format, bytesWord, hex;
    std::array<long, 3> p{};
    while (in >> format >> p[0] >> p[1] >> p[2] >> bytesWord >> hex) pixels.push_back(p);
    return pixels;
}

std::vector<double> paintedTimes(const std::string& lines)
{
    std::vector<double> times;
    std::istringstream in(lines);
    std::string line;
    while (std::getline(in, line)) {
        if (painted(line)) times.push_back(paintedTime(line));
    }
    return times;
}

// The shell lines that start the presenter with `args` on a fifo, and `waitFor N`: until its output has
// N lines (at most 30 s). Its files are in the guest's own TMPDIR (a fifo does not work on the shared
// scratch folder).
std::string presenterScript(const std::string& args)
{
    return "cd \"$TMPDIR\"\nP=" + shellQuoted(presenterPath()) + "\nPROBE=" + shellQuoted(kmsProbePath()) +
           "\nmkfifo in\n$P --platform kms " + args +
           " <in >out &\npid=$!\nexec 3>in\n"
           "waitFor() { i=0; while [ \"$(grep -c '' out)\" -lt \"$1\" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done; }\n";
}

// Checks that each time lies on the grid of vblanks `period` apart (within 0.1 ms), and that at least
// `consecutive` of the gaps are one period: the frames went out on consecutive vblanks.
void expectOnTheVblankGrid(const std::vector<double>& times, double period, double consecutive)
{
    ASSERT_GE(times.size(), 2u);
    int ones = 0;
    for (std::size_t i = 1; i < times.size(); ++i) {
        const double periods = (times[i] - times[0]) / period;
        EXPECT_NEAR(periods, std::round(periods), 0.0001 / period) << "painted " << std::fixed << times[i];
        ones += std::lround((times[i] - times[i - 1]) / period) == 1;
    }
#ifdef PP_SANITIZED_BUILD  // in the emulated guest a sanitized frame takes longer than a refresh
    static_cast<void>(ones);
    static_cast<void>(consecutive);
#else
    EXPECT_GE(ones, consecutive * double(times.size() - 1));
#endif
}

TEST(OnVkms, EveryLevelReachesTheScanOutOnTheVblankAndTheDisplayIsPutBackAfterQuit)
{
    SKIP_WITHOUT_KMS_GUEST();
    const std::string script = presenterScript("") + R"(
$PROBE list >before
echo "surround 20 40 60" >&3
echo "rgb 200 100 50" >&3
waitFor 3
$PROBE pixel 512 384 >centre
$PROBE pixel 4 4 >corner
echo "rgb 127.25 64 10" >&3
waitFor 4
$PROBE pixel 504 376 16 16 >tile
echo "mode deep" >&3
echo "rgb 12 240 128" >&3
waitFor 6
$PROBE pixel 512 384 >deep
i=0; while [ $i -lt 40 ]; do echo "rgb 90 $i 30" >&3; i=$((i+1)); done
waitFor 46
echo quit >&3
wait $pid; echo $? >status
$PROBE list >after
cmp -s before after && echo same >restored
$P --platform kms --list-displays >list
for f in list out centre corner tile deep status restored; do echo "== $f"; cat $f 2>/dev/null; done
)";
    const auto result = KmsGuest::runScript(script, 240s);
    ASSERT_EQ(result.status, 0) << result.errors << result.console;
    auto s = sections(result.output);

    const auto list = nlohmann::json::parse(s["list"]);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["name"], "Virtual-1");
    EXPECT_EQ(list[0]["pixels"], nlohmann::json::parse("[1024,768]"));
    EXPECT_EQ(list[0]["bits"], 8);
    EXPECT_EQ(list[0]["modes"][0], "1024x768@60.004");
    EXPECT_EQ(list[0]["signal"], nlohmann::json::parse(R"({"hdr_output_metadata":false,"colorspace":false,"max_bpc":false})"));

    EXPECT_TRUE(startsWith(s["out"], "ready {")) << s["out"];
    EXPECT_EQ(probed(s["centre"]), (std::vector<std::array<long, 3>>{{200, 100, 50}}));
    EXPECT_EQ(probed(s["corner"]), (std::vector<std::array<long, 3>>{{20, 40, 60}}));
    const auto tile = probed(s["tile"]);
    ASSERT_EQ(tile.size(), 256u);
    std::array<double, 3> mean{};
    for (const auto& p : tile)
        for (int c = 0; c < 3; ++c) mean[c] += p[c] / 256.0;
    EXPECT_DOUBLE_EQ(mean[0], 127.25);
    EXPECT_DOUBLE_EQ(mean[1], 64);
    EXPECT_DOUBLE_EQ(mean[2], 10);
    // Deep on vkms's XRGB16161616 plane: each level carried with 10 bits, widened by repeating them.
    EXPECT_NE(s["deep"].find("XRGB16161616"), std::string::npos) << s["deep"];
    auto widened = [](double level) {
        const long v = std::lround(level * 1023 / 255);
        return (v << 6) | (v >> 4);
    };
    EXPECT_EQ(probed(s["deep"]), (std::vector<std::array<long, 3>>{{widened(12), widened(240), widened(128)}}));

    const auto times = paintedTimes(s["out"]);
    ASSERT_EQ(times.size(), 43u);
    expectOnTheVblankGrid({times.begin() + 3, times.end()}, 1 / 60.004, 0.25);
    EXPECT_EQ(s["status"], "0\n");
    EXPECT_EQ(s["restored"], "same\n") << "the mode, planes and properties were not put back";
}

TEST(OnVkms, AListedModeIsSetOthersAndHdr10AndABusyDeviceAreRefusedAndASignalPutsTheDisplayBack)
{
    SKIP_WITHOUT_KMS_GUEST();
    const std::string script = presenterScript("--mode 1920x1080@24.017") + R"(
mkfifo in2
i=0; while [ $i -lt 16 ]; do echo "rgb 90 $i 30" >&3; i=$((i+1)); done
waitFor 17
echo quit >&3
wait $pid
echo "== out"; cat out
echo "== refused"
$P --platform kms --mode 1920x1080@24; echo "status $?"
$P --platform kms --mode 1234x567@60; echo "status $?"
$P --platform kms --signal hdr10; echo "status $?"
echo "== busy"
$PROBE fill XRGB8888 1 2 3 -- $P --platform kms --list-displays; echo "status $?"
echo "== signalled"
$PROBE list >before
$P --platform kms <in2 >out2 &
pid=$!
exec 4>in2
echo "rgb 1 2 3" >&4
i=0; while ! grep -q painted out2 && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done
kill -TERM $pid; wait $pid; echo "status $?"
$PROBE list >after
cmp -s before after && echo "put back"
)";
    // The kernel's command line adds a 24 Hz mode to the connector's list (CVT makes it 24.017 Hz).
    const auto result = KmsGuest::runScript(script, 240s, {}, "video=Virtual-1:1920x1080@24");
    ASSERT_EQ(result.status, 0) << result.errors << result.console;
    auto s = sections(result.output);
    ASSERT_TRUE(startsWith(s["out"], "ready {")) << s["out"];
    const auto report = nlohmann::json::parse(s["out"].substr(6, s["out"].find('\n') - 6));
    EXPECT_EQ(report["pixels"], nlohmann::json::parse("[1920,1080]"));
    const auto times = paintedTimes(s["out"]);
    ASSERT_EQ(times.size(), 16u);
    expectOnTheVblankGrid(times, 1 / 24.017, 0.5);
    EXPECT_EQ(s["refused"], "error no mode 1920x1080@24\nstatus 1\nerror no mode 1234x567@60\nstatus 1\n"
                            "error display cannot send hdr10\nstatus 1\n");
    EXPECT_EQ(s["busy"], "error no screen main\nstatus 1\n");
    // Ended by a signal, the display is put back too.
    EXPECT_EQ(s["signalled"], "status 143\nput back\n");
}

TEST(OnVkms, TheNetworkRoadsTenBitLevelsAreDithered)
{
    SKIP_WITHOUT_KMS_GUEST();
    // A calibration suite on the guest's loopback: one message, a 10-bit level over the whole screen.
    const std::string script = presenterScript("--connect 127.0.0.1:20002") + R"(
python3 - <<'SUITE' &
import socket, struct
body = ('<?xml version="1.0" encoding="utf-8"?><calibration><color red="509" green="509" blue="509" bits="10"/>'
        '<background red="0" green="0" blue="0" bits="10"/><geometry x="0" y="0" cx="1" cy="1"/></calibration>').encode()
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(('127.0.0.1', 20002))
server.listen(1)
server.settimeout(60)
connection, _ = server.accept()
connection.sendall(struct.pack('>I', len(body)) + body)
connection.recv(1)
SUITE
waitFor 3
$PROBE pixel 504 376 16 16 >tile
kill $pid
echo "== out"; cat out
echo "== tile"; cat tile
)";
    const auto result = KmsGuest::runScript(script, 240s);
    ASSERT_EQ(result.status, 0) << result.errors << result.console;
    auto s = sections(result.output);
    ASSERT_EQ(paintedTimes(s["out"]).size(), 1u) << s["out"];
    const auto tile = probed(s["tile"]);
    ASSERT_EQ(tile.size(), 256u);
    std::array<double, 3> mean{};
    for (const auto& p : tile)
        for (int c = 0; c < 3; ++c) mean[c] += p[c] / 256.0;
    // 509 of 1023 is 126.88 of 255: the dither's mean, not the nearest 8-bit level 127.
    for (double m : mean) EXPECT_NEAR(m, 509 * 255 / 1023.0, 1.0 / 64);
}

}  // namespace
}  // namespace pp::test
