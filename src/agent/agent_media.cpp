// Media control: local and peer audio/video switches, local capture and preview, stream
// statistics and the video profile. Each operation holds the agent lock for its whole run.
#include <cstdio>

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

// The engine's parameter object for the length of one operation. When the engine hands none
// out, error() is the engine's non-zero answer, or -1 when it answered 0 without an object.
class parameter_object {
public:
    explicit parameter_object(IRtcEngine* engine) {
        void* object = nullptr;
        error_ = engine->queryInterface(kelvo::rtc::IID_RTC_ENGINE_PARAMETER, &object);
        if (error_ == 0) {
            parameter_ = static_cast<IRtcEngineParameter*>(object);
            if (parameter_ == nullptr) {
                error_ = -1;
            }
        }
    }
    ~parameter_object() {
        if (parameter_ != nullptr) {
            parameter_->release();
        }
    }
    parameter_object(const parameter_object&) = delete;
    parameter_object& operator=(const parameter_object&) = delete;

    explicit operator bool() const { return parameter_ != nullptr; }
    IRtcEngineParameter* get() const { return parameter_; }
    int32_t error() const { return error_; }

private:
    IRtcEngineParameter* parameter_ = nullptr;
    int32_t error_ = 0;
};

int32_t set_peer_mute(IRtcEngineParameter* parameter, const char* key, uint32_t uid, bool mute) {
    char text[parameter_text_size];
    std::snprintf(text, sizeof text, "{\"uid\":%u,\"mute\":%s}", uid, json_bool(mute));
    return parameter->setObject(key, text);
}

int32_t set_own_audio_mute(IRtcEngineParameter* parameter, bool mute) {
    char text[parameter_text_size];
    std::snprintf(text, sizeof text, "{\"rtc.audio.mute_me\":%s,\"che.audio.mute_me\":%s}",
                  json_bool(mute), json_bool(mute));
    return parameter->setParameters(text);
}

int32_t set_own_video_mute(IRtcEngineParameter* parameter, bool mute) {
    char text[parameter_text_size];
    std::snprintf(text, sizeof text, "{\"rtc.video.mute_me\":%s,\"che.video.local.send\":%s}",
                  json_bool(mute), json_bool(!mute));
    return parameter->setParameters(text);
}

int32_t set_local_capture(IRtcEngineParameter* parameter, bool enabled) {
    const char* e = json_bool(enabled);
    char text[parameter_text_size];
    std::snprintf(text, sizeof text,
                  "{\"rtc.video.capture\":%s,\"che.video.local.capture\":%s,"
                  "\"che.video.local.render\":%s,\"che.video.local.send\":%s}",
                  e, e, e, e);
    return parameter->setParameters(text);
}

}  // namespace

int32_t rtc_engine_agent::mute_stream_audio(uint32_t stream_id, bool mute) {
    std::lock_guard<std::mutex> lock(agent_lock_);
    IRtcEngine* engine = engine_.load();
    if (engine == nullptr) {
        return -3;
    }
    writeLog(1, "[wa] mute audio");
    const uint32_t uid = stream_id == own_uid() ? 0 : stream_id;
    parameter_object parameter(engine);
    if (!parameter) {
        return parameter.error();
    }
    if (uid != 0) {
        return set_peer_mute(parameter.get(), "rtc.audio.mute_peer", uid, mute);
    }
    return set_own_audio_mute(parameter.get(), mute);
}

int32_t rtc_engine_agent::mute_stream_video(uint32_t stream_id, bool mute) {
    std::lock_guard<std::mutex> lock(agent_lock_);
    IRtcEngine* engine = engine_.load();
    if (engine == nullptr) {
        return -3;
    }
    writeLog(1, "[wa] mute video");
    const uint32_t uid = stream_id == own_uid() ? 0 : stream_id;
    parameter_object parameter(engine);
    if (!parameter) {
        return parameter.error();
    }
    if (uid != 0) {
        const int32_t result = set_peer_mute(parameter.get(), "rtc.video.mute_peer", uid, mute);
        if (result == 0) {
            set_stream_mute_state(uid, mute);
        }
        return result;
    }
    return set_own_video_mute(parameter.get(), mute);
}

int32_t rtc_engine_agent::mute_local(bool mute) {
    std::lock_guard<std::mutex> lock(agent_lock_);
    IRtcEngine* engine = engine_.load();
    if (engine == nullptr || !joined()) {
        return -3;
    }
    writeLog(1, "[wa] muteLocal audio and video Stream");
    parameter_object parameter(engine);
    if (!parameter) {
        return parameter.error();
    }
    const int32_t result = set_own_audio_mute(parameter.get(), mute);
    if (result != 0) {
        return result;
    }
    return set_own_video_mute(parameter.get(), mute);
}

int32_t rtc_engine_agent::enable_local_video(bool enabled) {
    std::lock_guard<std::mutex> lock(agent_lock_);
    IRtcEngine* engine = engine_.load();
    if (engine == nullptr) {
        return -3;
    }
    parameter_object parameter(engine);
    if (!parameter) {
        return parameter.error();
    }
    return set_local_capture(parameter.get(), enabled);
}

int32_t rtc_engine_agent::preview(connection_context* context, bool video) {
    std::lock_guard<std::mutex> lock(agent_lock_);
    IRtcEngine* engine = engine_.load();
    if (engine == nullptr) {
        return -3;
    }
    context->uid = 0;
    {
        parameter_object parameter(engine);
        if (parameter) {
            set_local_capture(parameter.get(), video);
        }
    }
    if (video) {
        kelvo::rtc::VideoCanvas canvas{nullptr, kelvo::rtc::RENDER_MODE_HIDDEN, 0, 0};
        if (setup_stream_channel(context, canvas) == 0) {
            engine->setupLocalVideo(canvas);
        }
    }
    return 0;
}

int32_t rtc_engine_agent::video_statistics(uint32_t uid, int32_t latency, int32_t fps) {
    kelvo::rtc::VideoStats stats{uid == own_uid() ? 0 : uid, latency, 0, fps, 0};
    fill_stream_statistics(stats.uid, stats.measuredFrameRate, stats.droppedFrames);
    std::lock_guard<std::mutex> lock(agent_lock_);
    IRtcEngine* engine = engine_.load();
    if (engine == nullptr) {
        return -3;
    }
    return engine->reportVideoStats(stats);
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
    std::lock_guard<std::mutex> lock(agent_lock_);
    IRtcEngine* engine = engine_.load();
    if (engine == nullptr) {
        return -3;
    }
    writeLog(1, "[wa] setVideoProfile to %s swap %s", name.c_str(), json_bool(swap_width_and_height));
    return engine->setVideoProfile(profile, swap_width_and_height);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
