// Asking the user whether a site may use the agent. The question is never asked, nor waited for,
// on a server's I/O thread: ask() returns at once and the answer comes later on another thread.
#pragma once

#include <functional>
#include <string>

namespace kelvo {
namespace rtc {
namespace web {

enum class consent_answer {
    allow_remembered,  // allowed, and remembered in the sites file
    allow_once,        // allowed until the agent ends
    block_remembered,  // blocked, and remembered
    block_once,        // blocked without remembering
    dismissed,         // "Not now", or the question closed without an answer
    timed_out,         // no answer within the time allowed
    unasked,           // nobody could be asked (no question program, no display)
};

class IConsentPrompt {
public:
    // Asks about `origin` (normalized), naming what it will get: the camera, the microphone, the
    // screen and window titles, recordings. `answered` is called exactly once, on a thread of the
    // prompt's own (never the caller's), at the latest after 60 seconds (then timed_out). The
    // caller asks one question at a time, so the user sees one at a time.
    virtual void ask(const std::string& origin, std::function<void(consent_answer)> answered) = 0;

protected:
    ~IConsentPrompt() = default;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
