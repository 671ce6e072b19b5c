// The engine's event handler: turns the callbacks the page cares about into JSON events and
// completes the commands the engine answers later. Every callback runs on an engine thread and
// takes no agent lock.
#pragma once

#include <kelvo/rizudada_engine.h>

#include "video/ISessionEvents.h"

namespace kelvo {
namespace rtc {
namespace web {

class rtc_engine_agent_event_handler : public kelvo::rtc::IRtcEngineEventHandler {
public:
    explicit rtc_engine_agent_event_handler(ISessionEvents& session);
    ~rtc_engine_agent_event_handler() override;
    rtc_engine_agent_event_handler(const rtc_engine_agent_event_handler&) = delete;
    rtc_engine_agent_event_handler& operator=(const rtc_engine_agent_event_handler&) = delete;

    void onJoinChannelSuccess(const char* channel, kelvo::rtc::uid_t uid, int elapsed) override;
    void onRejoinChannelSuccess(const char* channel, kelvo::rtc::uid_t uid, int elapsed) override;
    void onWarning(int warn, const char* msg) override;
    void onError(int err, const char* msg) override;
    void onLeaveChannel(const kelvo::rtc::RtcStats& stats) override;
    void onRemoteVideoStreamAvailable(kelvo::rtc::uid_t uid, int width, int height,
                                      int elapsed) override;
    void onPeerLeave(kelvo::rtc::uid_t uid, int reason) override;
    void onUserMuteAudio(kelvo::rtc::uid_t uid, bool muted) override;
    void onUserMuteVideo(kelvo::rtc::uid_t uid, bool muted) override;
    void onUserEnableVideo(kelvo::rtc::uid_t uid, bool enabled) override;
    void onApiResult(const char* api, int error) override;
    void onCameraReady() override;
    void onVideoStopped() override;
    void onJoinChannelFailure() override;
    void onConnectionLost() override;
    void onRecordingStatus(int status) override;
    void onRequestChannelKey() override;

private:
    ISessionEvents& session_;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
