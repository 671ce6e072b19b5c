// "sim.hold_log": the next log request whose text begins with a given prefix is held inside the
// engine for a while, so that a test can line up another thread's call (the engine's release)
// against a call that is still inside the engine. Releasing the engine while such a call is
// inside it is the caller's fault; the engine then writes the line "release while a call runs",
// wakes the held call and waits for it to return before it frees itself, so a test reads the
// fault in the log instead of crashing on it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "engine_log.h"

namespace kelvo {
namespace rtc {
namespace standin {

class call_hold {
public:
    explicit call_hold(engine_log& log) : log_(log) {}

    // Holds the next call whose text begins with `prefix` for at most `limit`.
    void arm(std::string prefix, std::chrono::milliseconds limit);

    // A call passing through the hold: waits when armed for its text (writing "hold <text>"
    // first) and counts as inside the engine until it is destroyed.
    class passage {
    public:
        passage(call_hold& hold, const std::string& text);
        ~passage();
        passage(const passage&) = delete;
        passage& operator=(const passage&) = delete;

    private:
        call_hold& hold_;
        const bool held_;
    };

    // The engine's release has begun: wakes a held call and returns once it has left.
    void release_started();

private:
    bool wait_if_armed(const std::string& text);
    void leave();

    engine_log& log_;
    std::mutex mutex_;  // guards everything below
    std::condition_variable changed_;
    std::string prefix_;
    std::chrono::milliseconds limit_{0};
    bool armed_ = false;
    bool inside_ = false;
    bool releasing_ = false;
};

}  // namespace standin
}  // namespace rtc
}  // namespace kelvo
