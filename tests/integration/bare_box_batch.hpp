// Driving a bench's bare box client started with --serve.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>

#include "child_process.hpp"

namespace pp::test {

// Asks `client` for a batch of `frames` frames and checks its answer: one positive time per frame.
inline void expectBatchTimes(ChildProcess& client, int frames)
{
    client.write(std::to_string(frames) + "\n");
    const std::string times = client.readLine(std::chrono::seconds(20)).value_or("<none>");
    std::istringstream words(times);
    int count = 0;
    for (long t; words >> t; ++count) EXPECT_GT(t, 0) << times;
    EXPECT_EQ(count, frames) << times;
}

}  // namespace pp::test
