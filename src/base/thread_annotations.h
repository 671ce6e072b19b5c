// Lock rules the compiler checks. Under clang (built with -Wthread-safety, the CI's clang stage)
// the annotations below make it refuse code that touches a guarded member without its lock, calls
// an operation without the lock it requires, or takes a lock the operation must not hold; other
// compilers see nothing. Locks are the annotated checked_mutex below (the standard library's
// mutex carries no annotations).
#pragma once

#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define KELVO_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KELVO_THREAD_ANNOTATION(x)
#endif

#define KELVO_CAPABILITY(name) KELVO_THREAD_ANNOTATION(capability(name))
#define KELVO_SCOPED_CAPABILITY KELVO_THREAD_ANNOTATION(scoped_lockable)
// The member may be read or written only while the lock is held.
#define KELVO_GUARDED_BY(lock) KELVO_THREAD_ANNOTATION(guarded_by(lock))
// The operation runs with the lock held by its caller.
#define KELVO_REQUIRES(...) KELVO_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// The operation takes the lock itself, so its caller must not hold it.
#define KELVO_EXCLUDES(...) KELVO_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define KELVO_ACQUIRE(...) KELVO_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define KELVO_RELEASE(...) KELVO_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// Lock order: this lock is taken only after the named ones.
#define KELVO_ACQUIRED_AFTER(...) KELVO_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))

namespace kelvo {
namespace rtc {
namespace web {

class KELVO_CAPABILITY("mutex") checked_mutex {
public:
    void lock() KELVO_ACQUIRE() { mutex_.lock(); }
    void unlock() KELVO_RELEASE() { mutex_.unlock(); }

private:
    friend class checked_lock;
    std::mutex mutex_;
};

// Holds a checked_mutex for its scope.
class KELVO_SCOPED_CAPABILITY checked_lock {
public:
    explicit checked_lock(checked_mutex& mutex) KELVO_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~checked_lock() KELVO_RELEASE() { mutex_.unlock(); }
    checked_lock(const checked_lock&) = delete;
    checked_lock& operator=(const checked_lock&) = delete;

    // Waits until `ready` holds, the lock released while waiting, as std::condition_variable
    // does; the lock is held again when this returns.
    template <class Predicate>
    void wait(std::condition_variable& condition, Predicate ready) {
        std::unique_lock<std::mutex> native(mutex_.mutex_, std::adopt_lock);
        condition.wait(native, ready);
        native.release();
    }

private:
    checked_mutex& mutex_;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
