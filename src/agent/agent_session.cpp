// Engine session: creating and destroying the engine, joining and leaving a channel, and the
// session-wide options. The deferred join and leave replies are built here too.
#include "agent/engine_interface.h"
#include "agent/engine_library.h"
#include "agent/rtc_engine_agent.h"
#include "video/rtc_engine_agent_event_handler.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

using kelvo::rtc::IRtcEngine;

constexpr int32_t empty_app_id = -101;
constexpr int32_t engine_exists = -19;
// createRizudAdaEngine gave no engine: the same answer as a missing engine library.
constexpr int32_t no_engine_from_library = -7;

constexpr const char* join_info = "ZuzIrave";

// Local capture off, then local audio muted, then local video muted.
constexpr const char* media_reset_texts[] = {
    ("{\"rtc.video.capture\":false,\"che.video.local.capture\":false,"
     "\"che.video.local.render\":false,\"che.video.local.send\":false}"),
    "{\"rtc.audio.mute_me\":true,\"che.audio.mute_me\":true}",
    "{\"rtc.video.mute_me\":true,\"che.video.local.send\":false}",
};

}  // namespace

int32_t rtc_engine_agent::initialize(const std::string& app_id, connection_context* context) {
    if (app_id.empty()) return empty_app_id;
    std::lock_guard<std::mutex> lock(agent_lock_);
    if (engine_ != nullptr) {
        writeLog(kelvo::rtc::LOG_LEVEL_WARN, "[wa] Rtc Engine is already initialized");
        return engine_exists;
    }
    engine_initialized_ = false;
    joined_ = false;
    video_enabled_ = false;
    {
        std::lock_guard<std::mutex> control(control_lock_);
        control_handle_.reset();
    }

    IRtcEngine* engine = engine_library::instance().create_engine();
    if (engine == nullptr) return no_engine_from_library;
    engine_ = engine;
    log_gate_.open(engine);
    if (!event_handler_) event_handler_ = std::make_unique<rtc_engine_agent_event_handler>(*this);

    const kelvo::rtc::RtcEngineContext engine_context{event_handler_.get(), app_id.c_str()};
    const int32_t result = engine->initialize(engine_context);
    if (result != 0) {
        // An engine that refused to initialise is released at once: kept, it would answer every
        // later "initialize" with 19 and leave the agent unusable until it restarts.
        log_gate_.close();
        engine_ = nullptr;
        engine->release(false);
        event_handler_.reset();
        return result;
    }
    writeLog(kelvo::rtc::LOG_LEVEL_INFO, "[wa] Rtc Engine initialized");

    media_engine media(engine);
    if (media) media->registerVideoRenderFactory(this);
    engine->setupLocalVideo(kelvo::rtc::VideoCanvas{nullptr, kelvo::rtc::RENDER_MODE_HIDDEN, 0, 0});
    media_reset(*engine);

    // The control connection is in place before the first event can be forwarded to it.
    context->state = connection_control;
    {
        std::lock_guard<std::mutex> control(control_lock_);
        control_server_index_ = context->server_index;
        control_handle_ = context->handle;
    }
    engine_initialized_ = true;
    return 0;
}

int32_t rtc_engine_agent::teardown_engine() {
    engine_initialized_ = false;
    joined_ = false;
    join_pending_ = false;
    std::lock_guard<std::mutex> lock(agent_lock_);
    if (IRtcEngine* engine = engine_) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "[wa] Rtc Engine destroyed");
        // Lines written from now on, on any thread, are dropped, and none is still inside the
        // engine when it is released.
        log_gate_.close();
        engine_ = nullptr;
        engine->release(false);
    }
    // The engine calls its handler no more once release has returned.
    event_handler_.reset();
    return 0;
}

void rtc_engine_agent::media_reset(IRtcEngine& engine) {
    engine_parameters parameters(&engine);
    if (!parameters) return;
    if (engine.enableVideo() == 0) video_enabled_ = true;
    for (const char* text : media_reset_texts) parameters->setParameters(text);
}

void rtc_engine_agent::ensure_video_enabled(IRtcEngine& engine) {
    if (!video_enabled_ && engine.enableVideo() == 0) video_enabled_ = true;
}

int32_t rtc_engine_agent::join(const std::string& key, const std::string& channel, uint32_t uid) {
    return with_engine([&](IRtcEngine& engine) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "[wa] join channel");
        // Pending before the call: the engine may report the join before the call returns.
        const uint32_t previous_uid = own_uid_.exchange(uid);
        const bool previous_pending = join_pending_.exchange(true);
        const int32_t result =
            engine.joinChannel(key.c_str(), channel.c_str(), join_info, uid);
        if (result != 0) {
            uint32_t asked = uid;
            own_uid_.compare_exchange_strong(asked, previous_uid);
            join_pending_ = previous_pending;
        }
        return result;
    });
}

int32_t rtc_engine_agent::leave() {
    own_uid_ = 0;
    return with_engine([&](IRtcEngine& engine) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "[wa] leave channel");
        const int32_t result = engine.leaveChannel();
        media_reset(engine);
        return result;
    });
}

int32_t rtc_engine_agent::renew_key(const std::string& key) {
    return with_engine([&](IRtcEngine& engine) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "[wa] renew channel key");
        return engine.renewChannelKey(key.c_str());
    });
}

int32_t rtc_engine_agent::set_channel_profile(bool live_broadcasting) {
    return with_engine([&](IRtcEngine& engine) {
        return engine.setChannelProfile(live_broadcasting
                                            ? kelvo::rtc::CHANNEL_PROFILE_LIVE_BROADCASTING
                                            : kelvo::rtc::CHANNEL_PROFILE_COMMUNICATION);
    });
}

int32_t rtc_engine_agent::set_client_role(int role, const std::string& key) {
    return with_engine([&](IRtcEngine& engine) {
        return engine.setClientRole(static_cast<kelvo::rtc::CLIENT_ROLE_TYPE>(role), key.c_str());
    });
}

int32_t rtc_engine_agent::set_encryption_mode(const std::string& mode) {
    return with_engine(
        [&](IRtcEngine& engine) { return engine.setEncryptionMode(mode.c_str()); });
}

int32_t rtc_engine_agent::set_encryption_secret(const std::string& secret) {
    return with_engine(
        [&](IRtcEngine& engine) { return engine.setEncryptionSecret(secret.c_str()); });
}

int32_t rtc_engine_agent::set_parameters(const std::string& parameters) {
    return with_engine(
        [&](IRtcEngine& engine) { return engine.setParameters(parameters.c_str()); });
}

int32_t rtc_engine_agent::enable_dual_stream_mode(bool enabled) {
    return with_parameters([&](kelvo::rtc::IRtcEngineParameter& parameters) {
        return parameters.setBool("rtc.dual_stream_mode", enabled);
    });
}

void rtc_engine_agent::send_join_reply(int code) {
    JsonValue reply;
    reply.makeObject();
    reply.setString("command", "joinChannel");
    if (code == 0) {
        reply.setUInt("uid", own_uid_.load());
        reply.setBool("code", true);
    } else {
        reply.setInt("code", code);
    }
    send_to_control(reply.toString());
    join_pending_ = false;
}

void rtc_engine_agent::on_join_success(uint32_t uid) {
    joined_ = true;
    own_uid_ = uid;
    send_join_reply(0);
}

void rtc_engine_agent::on_left_channel() {
    joined_ = false;
    join_pending_ = false;
    send_to_control("{\"command\":\"leaveChannel\",\"code\":true}");
    clear_all_stream_channels();
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
