// Media control: local and peer audio/video switches, local capture and preview, stream
// statistics and the video profile. Each operation holds the agent lock for its whole run.
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

int32_t rtc_engine_agent::mute_stream_audio(uint32_t stream_id, bool mute) {
    return with_parameters([&](IRtcEngineParameter& parameters) {
        writeLog(1, "[wa] mute audio");
        const uint32_t uid = stream_id == own_uid() ? 0 : stream_id;
        if (uid != 0) {
            return set_peer_mute(parameters, "rtc.audio.mute_peer", uid, mute);
        }
        return set_own_audio_mute(parameters, mute);
    });
}

int32_t rtc_engine_agent::mute_stream_video(uint32_t stream_id, bool mute) {
    return with_parameters([&](IRtcEngineParameter& parameters) {
        writeLog(1, "[wa] mute video");
        const uint32_t uid = stream_id == own_uid() ? 0 : stream_id;
        if (uid == 0) {
            return set_own_video_mute(parameters, mute);
        }
        const int32_t result = set_peer_mute(parameters, "rtc.video.mute_peer", uid, mute);
        if (result == 0) {
            set_stream_mute_state(uid, mute);
        }
        return result;
    });
}

int32_t rtc_engine_agent::mute_local(bool mute) {
    return with_parameters([&](IRtcEngineParameter& parameters) {
        if (!joined()) {
            return no_engine_result;
        }
        writeLog(1, "[wa] muteLocal audio and video Stream");
        const int32_t result = set_own_audio_mute(parameters, mute);
        if (result != 0) {
            return result;
        }
        return set_own_video_mute(parameters, mute);
    });
}

int32_t rtc_engine_agent::enable_local_video(bool enabled) {
    return with_parameters(
        [&](IRtcEngineParameter& parameters) { return set_local_capture(parameters, enabled); });
}

// Answers 0 whenever an engine exists (too_many_stream_channels aside): the page's stream
// connection is made whatever the engine said to the capture switch or the view.
int32_t rtc_engine_agent::preview(connection_context* context, bool video) {
    return with_engine([&](IRtcEngine& engine) {
        {
            engine_parameters parameters(&engine);
            if (parameters) {
                set_local_capture(*parameters, video);
            }
        }
        if (!video) {
            // The connection shows no video now; whatever it carried before is closed.
            switch_connection_uid(*context, 0);
            return 0;
        }
        kelvo::rtc::VideoCanvas canvas{nullptr, kelvo::rtc::RENDER_MODE_HIDDEN, 0, 0};
        const int32_t result = setup_stream_channel(context, 0, canvas);
        if (result == 0) {
            engine.setupLocalVideo(canvas);
        }
        return result;
    });
}

int32_t rtc_engine_agent::video_statistics(uint32_t uid, int32_t latency, int32_t fps) {
    kelvo::rtc::VideoStats stats{uid == own_uid() ? 0 : uid, latency, 0, fps, 0};
    // The channel lock is taken and released before the agent lock.
    fill_stream_statistics(stats.uid, stats.measuredFrameRate, stats.droppedFrames);
    return with_engine([&](IRtcEngine& engine) { return engine.reportVideoStats(stats); });
}

int32_t rtc_engine_agent::set_video_profile(const std::string& name, bool swap_width_and_height) {
    if (name.empty()) {
        return -2;
    }
    const int profile = video_profile_number(name);
    if (profile < 0) {
        writeLog(1, "[wa] undefined video profile specified to setVideoProfile: %s", name.c_str());
        return -2;
    }
    return with_engine([&](IRtcEngine& engine) {
        writeLog(1, "[wa] setVideoProfile to %s swap %s", name.c_str(),
                 json_bool(swap_width_and_height));
        return engine.setVideoProfile(profile, swap_width_and_height);
    });
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
