// A qemu guest with a DRM device (the kernel's vkms, with its writeback connector), for the KMS tests:
// scripts/kms-guest builds it once into /var/cache/pp-kms. Each run boots a fresh guest that shares this
// machine's root read-only, so the host-built program and tools run in it as they are, as root, with
// /dev/dri/card0; a scratch folder (the command's working folder) is shared read-write at the same
// path inside as outside, while the guest's /run is its own, empty at start, with TMPDIR=/run/tmp in it for
// the guest's own files (the host's /tmp stays visible: the program may be built there). qemu is
// this process's child, killed and reaped by its process id whatever happens, and killed with this
// process if it dies.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace pp::test {

struct KmsGuestResult {
    int status = -1;         // the command's exit status in the guest; -1 when the guest gave none
    bool timedOut = false;   // qemu was killed at the time-out
    std::string output;      // the command's standard output
    std::string errors;      // its standard error
    std::string console;     // the guest's console: the kernel's messages and /init's
    pid_t qemu = 0;          // qemu's process id, reaped by the time the result is returned
};

class KmsGuest {
public:
    // Whether the guest is built; `why` says what is missing when it is not.
    static bool available(std::string* why = nullptr);

    // Boots a guest that runs `argv` (argv[0] found on PATH) with the variables of `env` set, and
    // returns once the guest has powered off, or after `timeout` with qemu killed.
    static KmsGuestResult run(const std::vector<std::string>& argv, std::chrono::seconds timeout,
                              const std::map<std::string, std::string>& env = {});

    // The same with a shell script (run by /bin/sh) as the command.
    // `kernelArguments` add to the guest kernel's command line ("video=Virtual-1:1920x1080@24" adds
    // that mode to the connector's list).
    static KmsGuestResult runScript(const std::string& script, std::chrono::seconds timeout,
                                    const std::map<std::string, std::string>& env = {},
                                    const std::string& kernelArguments = "");
};

// The tests' own DRM client, pp-kms-probe, built beside the tests.
std::string kmsProbePath();

// A word quoted for /bin/sh.
std::string shellQuoted(const std::string& word);

// Skips the test when the guest is not built; fails it instead where PP_REQUIRE_KMS_GUEST is set (as CI
// sets it). Use as `SKIP_WITHOUT_KMS_GUEST();` at the top of a test body.
#define SKIP_WITHOUT_KMS_GUEST()                                           \
    do {                                                                   \
        std::string why_;                                                  \
        if (!::pp::test::KmsGuest::available(&why_)) {                     \
            if (std::getenv("PP_REQUIRE_KMS_GUEST")) FAIL() << why_;       \
            GTEST_SKIP() << why_;                                          \
        }                                                                  \
    } while (false)

}  // namespace pp::test
