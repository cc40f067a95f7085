// The KMS test guest itself (scripts/kms-guest, tests/support/kms_guest): it boots with vkms's
// connector and planes, runs the host-built program and the tests' DRM client, hands back the command's
// status and streams, reads the scanned-out buffer back exactly, and leaves no qemu behind.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "child_process.hpp"
#include "kms_guest.hpp"
#include "process_tools.hpp"

namespace pp::test {
namespace {

// Generous: a guest boots in seconds, but the machine may be loaded.
constexpr auto GUEST_TIME = std::chrono::seconds(180);

bool qemuGone(pid_t pid)
{
    return fileText("/proc/" + std::to_string(pid) + "/cmdline").find("qemu") == std::string::npos;
}

std::string describe(const KmsGuestResult& result)
{
    return "status " + std::to_string(result.status) + "\nstdout:\n" + result.output + "\nstderr:\n" +
           result.errors + "\nconsole:\n" + result.console;
}

TEST(KmsGuest, ShowsTheVirtualConnectorAndRunsTheHostBuiltProgram)
{
    SKIP_WITHOUT_KMS_GUEST();
    const auto result = KmsGuest::runScript("set -e\n\"$PROBE\" list\n\"$PRESENTER\" --version\n", GUEST_TIME,
                                            {{"PROBE", kmsProbePath()}, {"PRESENTER", presenterPath()}});
    ASSERT_EQ(result.status, 0) << describe(result);
    const std::regex preferred("connector [0-9]+ Virtual-1 connected\n(  mode .*\n)*"
                               "  mode 1024x768@60 \\([0-9.]+ Hz\\) preferred\n");
    EXPECT_TRUE(std::regex_search(result.output, preferred)) << result.output;
    for (const std::string format : {"XRGB8888", "XRGB16161616"}) {
        const std::regex offered("plane [0-9]+ primary .* formats( \\w+)* " + format + "( |\n)");
        EXPECT_TRUE(std::regex_search(result.output, offered)) << format << " missing:\n" << result.output;
    }
    EXPECT_NE(result.output.find("\npatch-presenter " PP_VERSION "\n"), std::string::npos) << result.output;
    EXPECT_TRUE(qemuGone(result.qemu));
}

TEST(KmsGuest, HandsBackTheCommandsStatusAndBothStreams)
{
    SKIP_WITHOUT_KMS_GUEST();
    const auto result = KmsGuest::run({"sh", "-c", "echo \"out $1\"; echo err >&2; exit 7", "sh", "it's"}, GUEST_TIME);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.status, 7) << describe(result);
    EXPECT_EQ(result.output, "out it's\n");
    EXPECT_EQ(result.errors, "err\n");
}

TEST(KmsGuest, IsKilledAtItsTimeOut)
{
    SKIP_WITHOUT_KMS_GUEST();
    const auto result = KmsGuest::run({"sleep", "600"}, std::chrono::seconds(3));
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.status, -1);
    EXPECT_TRUE(qemuGone(result.qemu));
}

// The read-back the presenter's KMS tests rely on, proven on a buffer the tests' own client shows: every
// channel's value comes back exactly, at 8 and at 16 bits (values a narrower path would change).
TEST(KmsGuest, ReadsTheScannedOutBufferBackExactly)
{
    SKIP_WITHOUT_KMS_GUEST();
    const auto result = KmsGuest::runScript(
        "set -e\n"
        "\"$PROBE\" fill XRGB8888 18 200 77 -- \"$PROBE\" pixel 1023 767\n"
        "\"$PROBE\" fill XRGB16161616 4660 65535 1 -- \"$PROBE\" pixel 0 0\n"
        "\"$PROBE\" fill XRGB16161616 257 32768 65280 -- \"$PROBE\" pixel 511 384\n",
        GUEST_TIME, {{"PROBE", kmsProbePath()}});
    EXPECT_EQ(result.status, 0) << describe(result);
    // The bytes as the formats lay them out (little-endian words, blue lowest), whatever the probe decodes.
    EXPECT_EQ(result.output,
              "XRGB8888 18 200 77 bytes 4dc81200\n"
              "XRGB16161616 4660 65535 1 bytes 0100ffff34120000\n"
              "XRGB16161616 257 32768 65280 bytes 00ff008001010000\n")
        << describe(result);
}

}  // namespace
}  // namespace pp::test
