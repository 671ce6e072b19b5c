// What the engine's event handler asks of the session, on the engine's threads: events and
// deferred replies to the control connection, and the effects of joining and leaving.
#include "agent/rtc_engine_agent.h"
#include "base/results.h"

namespace kelvo {
namespace rtc {
namespace web {

void rtc_engine_agent::sendToControl(const std::string& text) {
    if (!engine_initialized_.load()) return;
    int32_t index;
    connection_handle handle;
    {
        checked_lock lock(control_lock_);
        index = control_server_index_;
        handle = control_handle_;
    }
    net_.send_text(index, handle, text);
}

// Code 0 sends the granted uid and code true; join-pending is cleared after sending.
void rtc_engine_agent::sendJoinReply(int code) {
    JsonValue reply;
    reply.makeObject();
    reply.setString("command", "joinChannel");
    if (code == 0) reply.setUInt("uid", own_uid_.load());
    set_reply_code(reply, code, reply_sign::engine);
    sendToControl(reply.toString());
    join_pending_ = false;
}

void rtc_engine_agent::onJoinSuccess(uint32_t uid) {
    joined_ = true;
    own_uid_ = uid;
    sendJoinReply(0);
}

void rtc_engine_agent::onLeftChannel() {
    joined_ = false;
    join_pending_ = false;
    sendToControl("{\"command\":\"leaveChannel\",\"code\":true}");
    clear_all_stream_channels();
}

void rtc_engine_agent::onRemoteVideoAvailable(uint32_t uid) {
    if (!streams_.contains(uid)) announce_stream(uid);
}

const char* rtc_engine_agent::keyRenewalCommand() const {
    return dynamic_key_names_.load() ? "renewChannelDynamicKey" : "renewChannelKey";
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
