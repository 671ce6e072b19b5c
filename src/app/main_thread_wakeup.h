// How other threads wake the main thread's loop when they have handed it something: a function
// the loop sets (Windows: post a message to the control window; POSIX: write to the control
// loop's pipe) and clears before it goes.
#pragma once

#include <functional>

#include "base/thread_annotations.h"

namespace kelvo {
namespace rtc {
namespace web {

class main_thread_wakeup {
public:
    // Empty: nobody is woken. Once set() returns, the function it replaced is no longer running
    // and is never called again.
    void set(std::function<void()> wake) KELVO_EXCLUDES(lock_);
    // Any thread.
    void wake() KELVO_EXCLUDES(lock_);

private:
    // The wake-up lock: held while the function runs. A leaf: the function must neither block
    // nor take a lock.
    checked_mutex lock_;
    std::function<void()> wake_ KELVO_GUARDED_BY(lock_);
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
