// Engine session: creating and destroying the engine, joining and leaving a channel, renewing the
// channel key. Each command's member reader sits beside its operation.
#include "agent/engine_library.h"
#include "agent/rtc_engine_agent.h"
#include "video/rtc_engine_agent_event_handler.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

using kelvo::rtc::IRtcEngine;

constexpr const char* join_info = "ZuzIrave";

// Local capture off, then local audio muted, then local video muted.
constexpr const char* media_reset_texts[] = {
    ("{\"rtc.video.capture\":false,\"che.video.local.capture\":false,"
     "\"che.video.local.render\":false,\"che.video.local.send\":false}"),
    "{\"rtc.audio.mute_me\":true,\"che.audio.mute_me\":true}",
    "{\"rtc.video.mute_me\":true,\"che.video.local.send\":false}",
};

}  // namespace

int32_t rtc_engine_agent::run_initialize(command_call& call) {
    std::string app_id;
    if (call.message.readString("appID", app_id)) {
        dynamic_key_names_ = false;
    } else if (call.message.readString("key", app_id)) {
        dynamic_key_names_ = true;
    }
    const int32_t code = initialize(app_id, call.context);
    // Decisions that changed while the session was being made found no session to end yet.
    if (code == 0 && !access_.allows(call.context->origin)) on_sites_changed();
    return code;
}

int32_t rtc_engine_agent::run_get_version(command_call& call) {
    const char* version = engine_library::instance().version();
    if (version == nullptr) return result::library_unavailable;
    call.reply.setString("version", version);
    return result::ok;
}

int32_t rtc_engine_agent::initialize(const std::string& app_id, connection_context* context) {
    if (app_id.empty()) return result::empty_app_id;
    checked_lock lock(agent_lock_);
    if (engine_ != nullptr) {
        writeLog(kelvo::rtc::LOG_LEVEL_WARN, "Rtc Engine is already initialized");
        return result::engine_exists;
    }
    engine_initialized_ = false;
    joined_ = false;
    video_enabled_ = false;
    {
        checked_lock control(control_lock_);
        control_handle_.reset();
    }
    const int32_t created = create_engine(app_id);
    if (created != 0) return created;

    media_engine media(engine_);
    if (media) media->registerVideoRenderFactory(&streams_);
    engine_->setupLocalVideo(kelvo::rtc::VideoCanvas{nullptr, kelvo::rtc::RENDER_MODE_HIDDEN, 0, 0});
    media_reset(*engine_);

    // The control connection is in place before the first event can be forwarded to it.
    context->state = connection_control;
    {
        checked_lock control(control_lock_);
        control_server_index_ = context->server_index;
        control_handle_ = context->handle;
    }
    session_origin_ = context->origin;
    engine_initialized_ = true;
    resume_early_subscriptions();
    return result::ok;
}

int32_t rtc_engine_agent::create_engine(const std::string& app_id) {
    IRtcEngine* engine = engine_library::instance().create_engine();
    // No engine from the library: the same answer as a missing library.
    if (engine == nullptr) return result::library_unavailable;
    engine_ = engine;
    log_gate_.open(engine);
    if (!event_handler_) {
        ISessionEvents& session = *this;
        event_handler_ = std::make_unique<rtc_engine_agent_event_handler>(session);
    }
    const kelvo::rtc::RtcEngineContext engine_context{event_handler_.get(), app_id.c_str()};
    const int32_t code = engine->initialize(engine_context);
    if (code != 0) {
        // An engine that refused to initialise is released at once: kept, it would answer every
        // later "initialize" with 19 and leave the agent unusable until it restarts.
        log_gate_.close();
        engine_ = nullptr;
        engine->release(false);
        event_handler_.reset();
        return code;
    }
    writeLog(kelvo::rtc::LOG_LEVEL_INFO, "Rtc Engine initialized");
    return result::ok;
}

void rtc_engine_agent::teardown_engine() {
    engine_initialized_ = false;
    joined_ = false;
    join_pending_ = false;
    checked_lock lock(agent_lock_);
    update_use(&device_use::camera, false);
    update_use(&device_use::screen, false);
    update_use(&device_use::recording, false);
    if (IRtcEngine* engine = engine_) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "Rtc Engine destroyed");
        // Lines written from now on, on any thread, are dropped, and none is still inside the
        // engine when it is released.
        log_gate_.close();
        engine_ = nullptr;
        engine->release(false);
    }
    // The engine calls its handler no more once release has returned.
    event_handler_.reset();
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

int32_t rtc_engine_agent::run_join_channel(command_call& call) {
    std::string key;
    std::string channel;
    if (!read_text_or(call.message, "channelKey", "key", key) ||
        !read_text_or(call.message, "channelName", "channel", channel)) {
        return result::invalid_request;
    }
    const uint32_t uid = call.message.getUInt("uid", 0);
    return with_engine([&](IRtcEngine& engine) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "join channel");
        // Pending before the call: the engine may report the join before the call returns.
        const uint32_t previous_uid = own_uid_.exchange(uid);
        const bool previous_pending = join_pending_.exchange(true);
        const int32_t code = engine.joinChannel(key.c_str(), channel.c_str(), join_info, uid);
        if (code != 0) {
            uint32_t asked = uid;
            own_uid_.compare_exchange_strong(asked, previous_uid);
            join_pending_ = previous_pending;
        }
        return code;
    });
}

// Own uid becomes 0 whatever the engine answers.
int32_t rtc_engine_agent::run_leave_channel(command_call&) {
    own_uid_ = 0;
    return with_engine([&](IRtcEngine& engine) KELVO_REQUIRES(agent_lock_) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "leave channel");
        const int32_t code = engine.leaveChannel();
        media_reset(engine);
        return code;
    });
}

int32_t rtc_engine_agent::run_renew_channel_key(command_call& call) {
    return renew_key(call.message.getString("channelKey", ""));
}

int32_t rtc_engine_agent::run_renew_channel_dynamic_key(command_call& call) {
    dynamic_key_names_ = true;
    return renew_key(call.message.getString("key", ""));
}

int32_t rtc_engine_agent::renew_key(const std::string& key) {
    return with_engine([&](IRtcEngine& engine) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "renew channel key");
        return engine.renewChannelKey(key.c_str());
    });
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
