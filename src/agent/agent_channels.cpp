// The agent's stream-channel table and the render factory. The channel lock guards the table;
// it is taken after the agent lock where both are held, and the engine is never called while it
// is held: channels leaving the table are moved out and dropped after unlocking, because a
// channel's destruction notifies the engine through its renderer.
#include <utility>

#include "agent/rtc_engine_agent.h"
#include "video/VideoRenderImpl.h"
#include "video/VideoStreamChannel.h"

namespace kelvo {
namespace rtc {
namespace web {

int32_t rtc_engine_agent::setup_stream_channel(connection_context* context,
                                               kelvo::rtc::VideoCanvas& canvas) {
    kelvo::rtc::IRtcEngine* engine = engine_.load();
    if (engine == nullptr) {
        return -3;
    }
    writeLog(1, "[wa] setup video channel for user %d", static_cast<int>(context->uid));
    auto channel = std::make_shared<VideoStreamChannel>(*this, *context);
    std::shared_ptr<VideoStreamChannel> replaced;
    {
        std::lock_guard<std::mutex> lock(channel_lock_);
        std::shared_ptr<VideoStreamChannel>& entry = channels_[context->uid];
        replaced = std::move(entry);
        entry = channel;
    }
    replaced.reset();
    ensure_video_enabled(*engine);
    canvas.view = channel->identity();
    canvas.renderMode = kelvo::rtc::RENDER_MODE_HIDDEN;
    canvas.uid = context->uid;
    return 0;
}

int32_t rtc_engine_agent::subscribe(connection_context* context, uint32_t uid) {
    context->uid = uid;
    kelvo::rtc::VideoCanvas canvas{nullptr, kelvo::rtc::RENDER_MODE_HIDDEN, 0, 0};
    std::lock_guard<std::mutex> lock(agent_lock_);
    if (setup_stream_channel(context, canvas) == 0) {
        engine_.load()->setupRemoteVideo(canvas);
    }
    return 0;
}

void rtc_engine_agent::close_stream_channel(connection_context* context) {
    writeLog(1, "[wa] close channel for user %u", context->uid);
    std::shared_ptr<VideoStreamChannel> closed;
    std::lock_guard<std::mutex> lock(channel_lock_);
    const auto found = channels_.find(context->uid);
    if (found != channels_.end() && found->second->belongsTo(*context)) {
        closed = std::move(found->second);
        channels_.erase(found);
    }
    // `closed` is declared before the lock, so it is dropped after the lock is released.
}

void rtc_engine_agent::clear_all_stream_channels() {
    writeLog(1, "[wa] clear all channels");
    std::unordered_map<uint32_t, std::shared_ptr<VideoStreamChannel>> cleared;
    {
        std::lock_guard<std::mutex> lock(channel_lock_);
        cleared.swap(channels_);
    }
}

void rtc_engine_agent::set_stream_mute_state(uint32_t uid, bool muted) {
    std::lock_guard<std::mutex> lock(channel_lock_);
    const auto found = channels_.find(uid);
    if (found != channels_.end()) {
        found->second->setPaused(muted);
    }
}

void rtc_engine_agent::stream_announcement(uint32_t uid, bool force) {
    if (!force) {
        std::lock_guard<std::mutex> lock(channel_lock_);
        if (channels_.count(uid) != 0) {
            return;
        }
    }
    JsonValue message;
    message.makeObject();
    message.setString("command", "onAddVideoStream");
    message.setUInt("uid", uid);
    send_to_control(message.toString());
}

void rtc_engine_agent::fill_stream_statistics(uint32_t uid, int32_t& rate, int32_t& dropped) {
    std::lock_guard<std::mutex> lock(channel_lock_);
    const auto found = channels_.find(uid);
    if (found != channels_.end()) {
        found->second->report(rate, dropped);
    }
}

kelvo::media::IExternalVideoRender* rtc_engine_agent::createRenderInstance(
    const kelvo::media::ExternalVideoRenderContext& context) {
    if (context.view == nullptr) {
        return nullptr;
    }
    std::weak_ptr<VideoStreamChannel> channel;
    {
        std::lock_guard<std::mutex> lock(channel_lock_);
        for (const auto& entry : channels_) {
            if (entry.second->identity() == context.view) {
                channel = entry.second;
                break;
            }
        }
    }
    if (channel.expired()) {
        return nullptr;
    }
    return new VideoRenderImpl(context.renderCallback, std::move(channel));
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
