#include "video/rtc_engine_agent_event_handler.h"

#include <cstring>

#include "base/json_value.h"
#include "base/results.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

// An object whose first member `first` ("event" or "command") names it.
JsonValue message(const char* first, const char* name) {
    JsonValue value;
    value.makeObject();
    value.setString(first, name);
    return value;
}

JsonValue event(const char* name) { return message("event", name); }

// A deferred command reply: "code" true for 0, else the engine's code with its sign.
JsonValue deferred_reply(const char* command, int code) {
    JsonValue reply = message("command", command);
    set_reply_code(reply, code, reply_sign::engine);
    return reply;
}

JsonValue error_event(int code) {
    JsonValue value = event("error");
    value.setInt("code", code);
    return value;
}

// A peer's audio or video state: {"event":name,"uid":uid,flag:value}.
JsonValue peer_state_event(const char* name, kelvo::rtc::uid_t uid, const char* flag, bool value) {
    JsonValue state = event(name);
    state.setUInt("uid", uid);
    state.setBool(flag, value);
    return state;
}

enum class reply_when { always, on_error };

// Commands the engine answers with an API result, beyond the join and the key renewal.
struct api_reply {
    const char* api;
    const char* command;
    reply_when when;
};

constexpr api_reply api_replies[] = {
    {"rtc.api.leave_channel", "leaveChannel", reply_when::on_error},
    {"rtc.api.start_recording_service", "startRecording", reply_when::always},
    {"rtc.api.stop_recording_service", "stopRecording", reply_when::always},
    {"rtc.api.query_recording_service_status", "queryRecordingStatus", reply_when::on_error},
};

}  // namespace

rtc_engine_agent_event_handler::rtc_engine_agent_event_handler(ISessionEvents& session)
    : session_(session) {}

rtc_engine_agent_event_handler::~rtc_engine_agent_event_handler() = default;

void rtc_engine_agent_event_handler::onJoinChannelSuccess(const char*, kelvo::rtc::uid_t uid,
                                                          int) {
    session_.onJoinSuccess(uid);
}

void rtc_engine_agent_event_handler::onRejoinChannelSuccess(const char* channel,
                                                            kelvo::rtc::uid_t uid, int elapsed) {
    JsonValue value = event("onRejoinChannelSuccess");
    value.setString("channel", channel);
    value.setUInt("uid", uid);
    value.setInt("elapsed", elapsed);
    session_.sendToControl(value.toString());
}

void rtc_engine_agent_event_handler::onWarning(int warn, const char*) {
    JsonValue value = event("warning");
    value.setInt("code", warn);
    session_.sendToControl(value.toString());
}

void rtc_engine_agent_event_handler::onError(int err, const char*) {
    if (session_.isJoinPending()) {
        session_.sendJoinReply(err);
        return;
    }
    session_.sendToControl(error_event(err).toString());
}

void rtc_engine_agent_event_handler::onLeaveChannel(const kelvo::rtc::RtcStats&) {
    session_.onLeftChannel();
}

void rtc_engine_agent_event_handler::onRemoteVideoStreamAvailable(kelvo::rtc::uid_t uid, int, int,
                                                                  int) {
    session_.onRemoteVideoAvailable(uid);
}

void rtc_engine_agent_event_handler::onPeerLeave(kelvo::rtc::uid_t uid, int reason) {
    JsonValue value = message("command", "onPeerLeave");
    value.setUInt("uid", uid);
    value.setInt("reason", reason);
    session_.sendToControl(value.toString());
}

void rtc_engine_agent_event_handler::onUserMuteAudio(kelvo::rtc::uid_t uid, bool muted) {
    session_.sendToControl(peer_state_event("onUserMuteAudio", uid, "muted", muted).toString());
}

void rtc_engine_agent_event_handler::onUserMuteVideo(kelvo::rtc::uid_t uid, bool muted) {
    session_.sendToControl(peer_state_event("onUserMuteVideo", uid, "muted", muted).toString());
}

void rtc_engine_agent_event_handler::onUserEnableVideo(kelvo::rtc::uid_t uid, bool enabled) {
    session_.sendToControl(
        peer_state_event("onUserEnableVideo", uid, "enabled", enabled).toString());
}

void rtc_engine_agent_event_handler::onApiResult(const char* api, int error) {
    if (api == nullptr) return;
    if (std::strcmp(api, "rtc.api.join_channel") == 0) {
        // A successful join is answered by the join-success callback.
        if (error != 0 && session_.isJoinPending()) session_.sendJoinReply(error);
        return;
    }
    if (std::strcmp(api, "rtc.renew_channel_key") == 0) {
        session_.sendToControl(deferred_reply(session_.keyRenewalCommand(), error).toString());
        return;
    }
    for (const api_reply& entry : api_replies) {
        if (std::strcmp(api, entry.api) != 0) continue;
        if (entry.when == reply_when::always || error != 0) {
            session_.sendToControl(deferred_reply(entry.command, error).toString());
        }
        return;
    }
}

void rtc_engine_agent_event_handler::onCameraReady() {
    session_.sendToControl(event("onCameraReady").toString());
}

void rtc_engine_agent_event_handler::onVideoStopped() {
    session_.sendToControl(event("onVideoStopped").toString());
}

void rtc_engine_agent_event_handler::onJoinChannelFailure() {
    if (session_.isJoinPending()) {
        session_.sendJoinReply(engine_code::join_failed);
        return;
    }
    session_.sendToControl(error_event(engine_code::join_failure).toString());
}

void rtc_engine_agent_event_handler::onConnectionLost() {
    session_.sendToControl(error_event(engine_code::connection_lost).toString());
}

void rtc_engine_agent_event_handler::onRecordingStatus(int status) {
    JsonValue reply = message("command", "queryRecordingStatus");
    reply.setBool("code", true);
    reply.setInt("status", status);
    session_.sendToControl(reply.toString());
}

void rtc_engine_agent_event_handler::onRequestChannelKey() {
    session_.sendToControl(event("onRequestChannelKey").toString());
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
