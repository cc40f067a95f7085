// The thread rules the headers state, checked in debug builds: "main thread only" for an object that
// does not know the main loop, and "any one thread at a time". (An object that knows the loop asks its
// hand-over instead: PP_MAIN_THREAD_ONLY.)
#pragma once

#include <atomic>
#include <cassert>
#include <thread>

namespace pp {

// The one thread an object is used from: the thread of its first checked call, which for a main-thread
// object is the main thread (it is made and served there).
class OwnThread {
public:
    // Whether the calling thread is the object's thread; the first call makes it so.
    bool calledFromOwnThread() const
    {
        std::thread::id expected{};
        const std::thread::id self = std::this_thread::get_id();
        return owner_.compare_exchange_strong(expected, self) || expected == self;
    }

private:
    mutable std::atomic<std::thread::id> owner_{};
};

// Calls that may come from any thread, one at a time: a Use lasts for a call and knows whether another
// call was inside at the same time.
class OneAtATime {
public:
    class Use {
    public:
        explicit Use(const OneAtATime& rule) : rule_(rule), alone_(rule.inside_.fetch_add(1) == 0) {}
        ~Use() { rule_.inside_.fetch_sub(1); }
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;
        bool alone() const { return alone_; }

    private:
        const OneAtATime& rule_;
        bool alone_;
    };

private:
    mutable std::atomic<int> inside_{0};
};

}  // namespace pp

// A debug build checks that the calling thread is the one `check` (an OwnThread) belongs to.
#define PP_OWN_THREAD_ONLY(check) assert((check).calledFromOwnThread())

// A debug build checks that no other call holds `check` (a OneAtATime) for as long as the enclosing
// block runs.
#ifdef NDEBUG
#define PP_ONE_AT_A_TIME(check) ((void)0)
#else
#define PP_ONE_AT_A_TIME(check)                      \
    const ::pp::OneAtATime::Use ppOneAtATimeUse{check}; \
    assert(ppOneAtATimeUse.alone())
#endif
