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

std::shared_ptr<VideoStreamChannel> rtc_engine_agent::take_connection_channel(
    const connection_context& context) {
    std::shared_ptr<VideoStreamChannel> taken;
    std::lock_guard<std::mutex> lock(channel_lock_);
    const auto found = channels_.find(context.uid);
    if (found != channels_.end() && found->second->belongsTo(context)) {
        taken = std::move(found->second);
        channels_.erase(found);
    }
    return taken;
}

int32_t rtc_engine_agent::setup_stream_channel(connection_context* context, uint32_t uid,
                                               kelvo::rtc::VideoCanvas& canvas) {
    if (engine_ == nullptr) {
        context->uid = uid;
        return -3;
    }
    // Dropped when this returns, outside the channel lock.
    const std::shared_ptr<VideoStreamChannel> earlier = switch_connection_uid(*context, uid);
    writeLog(1, "[wa] setup video channel for user %d", static_cast<int>(uid));
    IVideoStreamHost& host = *this;
    auto channel = std::make_shared<VideoStreamChannel>(host, *context);
    std::shared_ptr<VideoStreamChannel> replaced;
    {
        std::lock_guard<std::mutex> lock(channel_lock_);
        const auto found = channels_.find(uid);
        if (found == channels_.end() && channels_.size() >= max_stream_channels) {
            return too_many_stream_channels;
        }
        std::shared_ptr<VideoStreamChannel>& entry = channels_[uid];
        replaced = std::move(entry);
        entry = channel;
    }
    replaced.reset();
    ensure_video_enabled(*engine_);
    canvas.view = channel->identity();
    canvas.renderMode = kelvo::rtc::RENDER_MODE_HIDDEN;
    canvas.uid = uid;
    return 0;
}

// The earlier channel's view is removed from the engine at once: its renderer may not even exist
// yet, and then no closed notice could reach the engine.
std::shared_ptr<VideoStreamChannel> rtc_engine_agent::switch_connection_uid(
    connection_context& context, uint32_t uid) {
    std::shared_ptr<VideoStreamChannel> earlier = take_connection_channel(context);
    if (earlier) {
        writeLog(1, "[wa] close channel for user %u", context.uid);
        if (context.uid != uid) {
            const kelvo::rtc::VideoCanvas no_view{nullptr, kelvo::rtc::RENDER_MODE_HIDDEN,
                                                  context.uid, 0};
            if (context.uid == 0) {
                engine_->setupLocalVideo(no_view);
            } else {
                engine_->setupRemoteVideo(no_view);
            }
        }
    }
    context.uid = uid;
    return earlier;
}

int32_t rtc_engine_agent::subscribe(connection_context* context, uint32_t uid) {
    kelvo::rtc::VideoCanvas canvas{nullptr, kelvo::rtc::RENDER_MODE_HIDDEN, 0, 0};
    std::lock_guard<std::mutex> lock(agent_lock_);
    const int32_t result = setup_stream_channel(context, uid, canvas);
    if (result == 0) {
        engine_->setupRemoteVideo(canvas);
    }
    return result == too_many_stream_channels ? result : 0;
}

void rtc_engine_agent::close_stream_channel(connection_context* context) {
    writeLog(1, "[wa] close channel for user %u", context->uid);
    take_connection_channel(*context);
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

int32_t rtc_engine_agent::sendFrame(const connection_context& context, const binary_piece* pieces,
                                    size_t count, int32_t* dropped) {
    return net_.send_binary_group(context.server_index, context.handle, pieces, count, dropped);
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
