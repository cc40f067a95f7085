#include "core/thread_rules.hpp"

#include <gtest/gtest.h>

#include <thread>

namespace pp {
namespace {

bool fromAnotherThread(const OwnThread& check)
{
    bool own = true;
    std::thread([&] { own = check.calledFromOwnThread(); }).join();
    return own;
}

TEST(ThreadRules, AnObjectBelongsToTheThreadOfItsFirstCheckedCall)
{
    OwnThread check;
    EXPECT_TRUE(check.calledFromOwnThread());
    EXPECT_TRUE(check.calledFromOwnThread());
    EXPECT_FALSE(fromAnotherThread(check));

    OwnThread elsewhere;
    EXPECT_TRUE(fromAnotherThread(elsewhere)) << "a first call from another thread owns the object";
    EXPECT_FALSE(elsewhere.calledFromOwnThread());
}

TEST(ThreadRules, OverlappingCallsAreNotAlone)
{
    OneAtATime rule;
    {
        const OneAtATime::Use first(rule);
        EXPECT_TRUE(first.alone());
        EXPECT_TRUE(OneAtATime::Use(rule).alone()) << "a call made from inside a call of the same thread";
        bool secondAlone = true;
        std::thread([&] { secondAlone = OneAtATime::Use(rule).alone(); }).join();
        EXPECT_FALSE(secondAlone);
    }
    EXPECT_TRUE(OneAtATime::Use(rule).alone()) << "a call after the others have ended is alone again";
}

}  // namespace
}  // namespace pp
