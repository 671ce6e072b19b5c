#include "call_events.h"

#include "engine_log.h"
#include "scripted_call.h"

namespace kelvo {
namespace rtc {
namespace msvc_abi {

void play_join_events(IRtcEngineEventHandler& handler, const char* channel, uid_t granted) {
    log_line("event onJoinChannelSuccess").text(channel).number(granted).write();
    handler.onJoinChannelSuccess(channel, granted, join_elapsed);
    handler.onRemoteVideoStreamAvailable(peer_uid, peer_video_width, peer_video_height,
                                         peer_video_elapsed);
    handler.onUserMuteAudio(peer_uid, peer_audio_muted);
    handler.onUserMuteVideo(peer_uid, peer_video_muted);
    handler.onUserEnableVideo(peer_uid, peer_video_enabled);
    handler.onRejoinChannelSuccess(channel, granted, rejoin_elapsed);
    handler.onWarning(warning_code, "a warning");
    handler.onError(error_code, "an error");
    handler.onApiResult(api_name, api_error);
    handler.onRequestChannelKey();
    log_line("event join events played").write();
}

void play_leave_event(IRtcEngineEventHandler& handler) {
    const RtcStats stats{60, 1000, 2000, 2};
    handler.onLeaveChannel(stats);
    log_line("event onLeaveChannel").write();
}

}  // namespace msvc_abi
}  // namespace rtc
}  // namespace kelvo
