#include "network/frame_splitter.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame_bytes.hpp"

namespace pp {
namespace {

std::vector<std::string> drain(FrameSplitter& frames)
{
    std::vector<std::string> out;
    while (auto message = frames.next()) out.push_back(*message);
    return out;
}

TEST(FrameSplitter, AFrameFedByteByByteComesOutWholeOnlyAtItsLastByte)
{
    const std::string body = "<calibration>\xc3\xa9</calibration>";
    const std::string bytes = frame(body);
    FrameSplitter frames;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        frames.feed(bytes.substr(i, 1));
        ASSERT_FALSE(frames.next()) << "after byte " << i;
        EXPECT_TRUE(frames.midFrame());
    }
    frames.feed(bytes.substr(bytes.size() - 1));
    EXPECT_EQ(frames.next(), body);
    EXPECT_FALSE(frames.next());
    EXPECT_FALSE(frames.midFrame());
}

TEST(FrameSplitter, TenFramesInOneFeedComeOutInOrder)
{
    std::string bytes;
    std::vector<std::string> bodies;
    for (int i = 0; i < 10; ++i) {
        bodies.push_back("message " + std::to_string(i) + std::string(static_cast<std::size_t>(i * 37), 'x'));
        bytes += frame(bodies.back());
    }
    FrameSplitter frames;
    frames.feed(bytes);
    EXPECT_EQ(drain(frames), bodies);
    EXPECT_FALSE(frames.midFrame());
}

TEST(FrameSplitter, FramesCutAtEveryPlaceComeOutTheSame)
{
    const std::string bytes = frame("one") + frame("") + frame("three") + frame(std::string(300, 'z'));
    const std::vector<std::string> expected{"one", "", "three", std::string(300, 'z')};
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
        FrameSplitter frames;
        frames.feed(bytes.substr(0, cut));
        auto got = drain(frames);
        frames.feed(bytes.substr(cut));
        for (auto& m : drain(frames)) got.push_back(m);
        ASSERT_EQ(got, expected) << "cut at " << cut;
    }
}

TEST(FrameSplitter, LengthsUpToTheLimitAreTakenAndLongerOnesBreakTheStream)
{
    struct Case {
        std::uint32_t length;
        bool broken;
    };
    for (const Case c : {Case{MAX_MESSAGE_BYTES, false}, Case{MAX_MESSAGE_BYTES + 1, true}, Case{2u << 20, true},
                         Case{0xFFFFFFFFu, true}}) {
        FrameSplitter frames;
        frames.feed(frame("", c.length));
        EXPECT_FALSE(frames.next());
        EXPECT_EQ(frames.broken(), c.broken) << c.length;
        if (!c.broken) {
            frames.feed(std::string(c.length, 'a'));
            const auto message = frames.next();
            ASSERT_TRUE(message);
            EXPECT_EQ(message->size(), c.length);
        } else {
            frames.feed(frame("later"));
            EXPECT_FALSE(frames.next()) << "nothing follows a broken frame";
        }
    }
}

TEST(FrameSplitter, ATruncatedFrameIsHeldAsMidFrame)
{
    FrameSplitter frames;
    frames.feed(frame("whole") + frame("cut short").substr(0, 7));
    EXPECT_EQ(frames.next(), "whole");
    EXPECT_FALSE(frames.next());
    EXPECT_TRUE(frames.midFrame());

    FrameSplitter lengthOnly;
    lengthOnly.feed(std::string("\0\0", 2));
    EXPECT_FALSE(lengthOnly.next());
    EXPECT_TRUE(lengthOnly.midFrame());
}

}  // namespace
}  // namespace pp
