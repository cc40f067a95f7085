#include "network/suite_address.hpp"

#include <gtest/gtest.h>

namespace pp {
namespace {

TEST(SuiteAddress, ReadsHostsPortsAndIpv6InBracketsOnly)
{
    struct Case {
        const char* word;
        std::optional<SuiteAddress> expected;
    };
    const Case cases[] = {
        {"127.0.0.1", SuiteAddress{"127.0.0.1", 20002}},
        {"127.0.0.1:5000", SuiteAddress{"127.0.0.1", 5000}},
        {"suite.local:65535", SuiteAddress{"suite.local", 65535}},
        {"localhost", SuiteAddress{"localhost", 20002}},
        {"[::1]", SuiteAddress{"::1", 20002}},
        {"[::1]:7", SuiteAddress{"::1", 7}},
        {"[fe80::1:2:3]:5000", SuiteAddress{"fe80::1:2:3", 5000}},
        {"", std::nullopt},
        {":5000", std::nullopt},
        {"host:", std::nullopt},
        {"host:0", std::nullopt},
        {"host:65536", std::nullopt},
        {"host:50x", std::nullopt},
        {"host:-1", std::nullopt},
        {"host:+80", std::nullopt},
        {"[::1", std::nullopt},
        {"[]:80", std::nullopt},
        {"[::1]80", std::nullopt},
        {"two words", std::nullopt},
        // IPv6 without brackets: an address and a port cannot be told apart, so none is taken.
        {"::1", std::nullopt},
        {"::1:5000", std::nullopt},
        {"fe80::1:2:3", std::nullopt},
        {"127.0.0.1:20002:1", std::nullopt},
        {"host:80:", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(suiteAddress(c.word), c.expected) << c.word;
}

}  // namespace
}  // namespace pp
