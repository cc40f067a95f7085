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

// Calls that may come from any thread, one at a time: a Use lasts for a call and knows whether a call
// of another thread was inside at the same time. A call may make other calls of the same object.
class OneAtATime {
public:
    class Use {
    public:
        explicit Use(const OneAtATime& rule) : rule_(rule)
        {
            std::thread::id holder{};
            const std::thread::id self = std::this_thread::get_id();
            holds_ = rule.holder_.compare_exchange_strong(holder, self);
            alone_ = holds_ || holder == self;
        }
        ~Use()
        {
            if (holds_) rule_.holder_.store(std::thread::id{});
        }
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;
        bool alone() const { return alone_; }

    private:
        const OneAtATime& rule_;
        bool holds_ = false;  // this Use took the rule, and gives it back when it ends
        bool alone_ = false;
    };

private:
    mutable std::atomic<std::thread::id> holder_{};  // the thread inside, or none
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
