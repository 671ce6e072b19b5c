// What the engine's event handler needs from the session it reports to. Every operation is called
// on an engine thread and must not take the agent lock.
#pragma once

#include <cstdint>
#include <string>

namespace kelvo {
namespace rtc {
namespace web {

class ISessionEvents {
public:
    // Sends an event or a deferred reply to the page's control connection, while there is one.
    virtual void sendToControl(const std::string& text) = 0;
    // A "joinChannel" is waiting for its answer.
    virtual bool isJoinPending() const = 0;
    // Answers the waiting "joinChannel" with the engine's code (0: joined).
    virtual void sendJoinReply(int code) = 0;
    virtual void onJoinSuccess(uint32_t uid) = 0;
    virtual void onLeftChannel() = 0;
    // A remote user's video can be watched; the page is told unless it already watches it.
    virtual void onRemoteVideoAvailable(uint32_t uid) = 0;
    // The command a key renewal is answered as: the name the page used for its key.
    virtual const char* keyRenewalCommand() const = 0;

protected:
    ~ISessionEvents() = default;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
