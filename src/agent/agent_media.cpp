// Media control: local and peer audio/video switches, local capture and preview, stream
// statistics and the video profile. Each operation holds the agent lock for its whole run; each command's member
// reader sits beside its operation.
#include <cstdio>

#include "agent/engine_interface.h"
#include "agent/rtc_engine_agent.h"
#include "agent/video_profiles.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

using kelvo::rtc::IRtcEngine;
using kelvo::rtc::IRtcEngineParameter;

constexpr size_t parameter_text_size = 512;

const char* json_bool(bool value) { return value ? "true" : "false"; }

int32_t set_peer_mute(IRtcEngineParameter& parameters, const char* key, uint32_t uid, bool mute) {
    char text[parameter_text_size];
    std::snprintf(text, sizeof text, "{\"uid\":%u,\"mute\":%s}", uid, json_bool(mute));
    return parameters.setObject(key, text);
}

int32_t set_own_audio_mute(IRtcEngineParameter& parameters, bool mute) {
    char text[parameter_text_size];
    std::snprintf(text, sizeof text, "{\"rtc.audio.mute_me\":%s,\"che.audio.mute_me\":%s}",
                  json_bool(mute), json_bool(mute));
    return parameters.setParameters(text);
}

int32_t set_own_video_mute(IRtcEngineParameter& parameters, bool mute) {
    char text[parameter_text_size];
    std::snprintf(text, sizeof text, "{\"rtc.video.mute_me\":%s,\"che.video.local.send\":%s}",
                  json_bool(mute), json_bool(!mute));
    return parameters.setParameters(text);
}

int32_t set_local_capture(IRtcEngineParameter& parameters, bool enabled) {
    const char* e = json_bool(enabled);
    char text[parameter_text_size];
    std::snprintf(text, sizeof text,
                  "{\"rtc.video.capture\":%s,\"che.video.local.capture\":%s,"
                  "\"che.video.local.render\":%s,\"che.video.local.send\":%s}",
                  e, e, e, e);
    return parameters.setParameters(text);
}

}  // namespace

template <bool Mute>
int32_t rtc_engine_agent::run_mute_stream_audio(command_call& call) {
    uint32_t stream_id = 0;
    if (!call.message.readUInt("streamID", stream_id)) return result::invalid_request;
    return mute_stream_audio(stream_id, Mute);
}
template int32_t rtc_engine_agent::run_mute_stream_audio<true>(command_call&);
template int32_t rtc_engine_agent::run_mute_stream_audio<false>(command_call&);

template <bool Mute>
int32_t rtc_engine_agent::run_mute_stream_video(command_call& call) {
    uint32_t stream_id = 0;
    if (!call.message.readUInt("streamID", stream_id)) return result::invalid_request;
    return mute_stream_video(stream_id, Mute);
}
template int32_t rtc_engine_agent::run_mute_stream_video<true>(command_call&);
template int32_t rtc_engine_agent::run_mute_stream_video<false>(command_call&);

// A stream id equal to the own uid means the own stream, as 0 does.
int32_t rtc_engine_agent::mute_stream_audio(uint32_t stream_id, bool mute) {
    return with_parameters([&](IRtcEngineParameter& parameters) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "mute audio");
        const uint32_t uid = stream_id == own_uid() ? 0 : stream_id;
        if (uid != 0) {
            return set_peer_mute(parameters, "rtc.audio.mute_peer", uid, mute);
        }
        return set_own_audio_mute(parameters, mute);
    });
}

int32_t rtc_engine_agent::mute_stream_video(uint32_t stream_id, bool mute) {
    return with_parameters([&](IRtcEngineParameter& parameters) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "mute video");
        const uint32_t uid = stream_id == own_uid() ? 0 : stream_id;
        if (uid == 0) {
            return set_own_video_mute(parameters, mute);
        }
        const int32_t code = set_peer_mute(parameters, "rtc.video.mute_peer", uid, mute);
        if (code == 0) {
            streams_.setPaused(uid, mute);
        }
        return code;
    });
}

template <bool Mute>
int32_t rtc_engine_agent::run_mute_local(command_call&) {
    if (!joined()) return result::no_engine;
    return with_parameters([&](IRtcEngineParameter& parameters) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "muteLocal audio and video Stream");
        const int32_t code = set_own_audio_mute(parameters, Mute);
        if (code != 0) return code;
        return set_own_video_mute(parameters, Mute);
    });
}
template int32_t rtc_engine_agent::run_mute_local<true>(command_call&);
template int32_t rtc_engine_agent::run_mute_local<false>(command_call&);

int32_t rtc_engine_agent::run_enable_local_video(command_call& call) {
    bool enabled = false;
    if (!read_required_bool(call.message, "enabled", enabled)) return result::invalid_request;
    return with_parameters([&](IRtcEngineParameter& parameters) KELVO_REQUIRES(agent_lock_) {
        return switch_capture(parameters, enabled);
    });
}

int32_t rtc_engine_agent::switch_capture(IRtcEngineParameter& parameters, bool enabled) {
    const int32_t code = set_local_capture(parameters, enabled);
    if (code == 0) update_use(&device_use::camera, enabled);
    return code;
}

int32_t rtc_engine_agent::run_preview(command_call& call) {
    bool video = true;
    call.message.readBool("video", video);
    read_view_size(call);
    const int32_t code =
        become_stream_connection(call, [&] { return preview(call.context, video); });
    return code == result::forbidden ? refuse(call, "other-site") : code;
}

// Answers 0 whenever an engine exists (too many streams and another site aside): the page's
// stream connection is made whatever the engine said to the capture switch or the view.
int32_t rtc_engine_agent::preview(connection_context* context, bool video) {
    return with_engine([&](IRtcEngine& engine) KELVO_REQUIRES(agent_lock_) {
        if (!is_session_site(*context)) return result::forbidden;
        {
            engine_parameters parameters(&engine);
            if (parameters) set_local_capture(*parameters, video);
        }
        update_use(&device_use::camera, video);
        kelvo::rtc::VideoCanvas canvas{nullptr, kelvo::rtc::RENDER_MODE_HIDDEN, 0, 0};
        if (!video) {
            // The connection shows no video now; whatever it carried before is closed.
            switch_connection_uid(*context, 0);
            return result::ok;
        }
        const int32_t code = setup_stream_channel(context, 0, canvas);
        if (code == 0) engine.setupLocalVideo(canvas);
        return code;
    });
}

// Never answered: a missing uid reports nothing.
int32_t rtc_engine_agent::run_video_stat(command_call& call) {
    uint32_t uid = 0;
    if (!call.message.readUInt("uid", uid)) return result::ok;
    kelvo::rtc::VideoStats stats{uid == own_uid() ? 0 : uid, call.message.getInt("latency", 0), 0,
                                 call.message.getInt("fps", 0), 0};
    return with_engine([&](IRtcEngine& engine) KELVO_REQUIRES(agent_lock_) {
        // A stream connection made before the session may be another site's.
        if (!is_session_site(*call.context)) return refuse(call, "other-site");
        streams_.report(stats.uid, stats.pageFrameRate, stats.measuredFrameRate,
                        stats.droppedFrames);
        return engine.reportVideoStats(stats);
    });
}

int32_t rtc_engine_agent::run_set_video_profile(command_call& call) {
    std::string name;
    if (!call.message.readString("profile", name) || name.empty()) return result::invalid_request;
    const bool swap_width_and_height = call.message.getBool("swapWidthAndHeight", false);
    const int profile = video_profile_number(name);
    if (profile < 0) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO,
                 "undefined video profile specified to setVideoProfile: %s", name.c_str());
        return result::invalid_request;
    }
    return with_engine([&](IRtcEngine& engine) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "setVideoProfile to %s swap %s", name.c_str(),
                 json_bool(swap_width_and_height));
        return engine.setVideoProfile(profile, swap_width_and_height);
    });
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
