// Stream connections: "subscribe", setting up and closing stream channels in the stream table and
// the engine's views for them, and announcing streams to the page. The stream table's channel lock
// is taken after the agent lock, and channels leaving it are dropped after it is released.
#include <algorithm>
#include <functional>

#include "agent/rtc_engine_agent.h"

namespace kelvo {
namespace rtc {
namespace web {

void read_view_size(command_call& call) {
    call.context->view_width = call.message.getInt("viewWidth", 0);
    call.context->view_height = call.message.getInt("viewHeight", 0);
}

// The connection is a stream connection with frame dropping on before the set-up starts, so frames
// that flow at once find it so; a failed set-up puts it back as it was.
int32_t rtc_engine_agent::become_stream_connection(command_call& call,
                                                   const std::function<int32_t()>& set_up) {
    connection_context* context = call.context;
    const int32_t previous_state = context->state;
    context->state = connection_stream;
    net_.set_frame_dropping(context->server_index, context->handle, true);
    const int32_t code = set_up();
    if (code != 0) {
        context->state = previous_state;
        if (previous_state != connection_stream) {
            net_.set_frame_dropping(context->server_index, context->handle, false);
        }
    }
    return code;
}

int32_t rtc_engine_agent::run_subscribe(command_call& call) {
    uint32_t uid = 0;
    if (!call.message.readUInt("uid", uid) || uid == 0) return result::invalid_request;
    read_view_size(call);
    const int32_t code =
        become_stream_connection(call, [&] { return subscribe(call.context, uid); });
    return code == result::forbidden ? refuse(call, "other-site") : code;
}

int32_t rtc_engine_agent::subscribe(connection_context* context, uint32_t uid) {
    kelvo::rtc::VideoCanvas canvas{nullptr, kelvo::rtc::RENDER_MODE_HIDDEN, 0, 0};
    checked_lock lock(agent_lock_);
    if (engine_ == nullptr) {
        context->uid = uid;
        // Each open connection is in the list once, however often it subscribes; those that
        // closed meanwhile leave it.
        auto& waiting = early_subscriptions_;
        waiting.erase(std::remove_if(waiting.begin(), waiting.end(),
                                     [&](const auto& early) {
                                         return early.second.expired() ||
                                                same_connection(early.second, context->handle);
                                     }),
                      waiting.end());
        waiting.emplace_back(context->server_index, context->handle);
        return result::ok;
    }
    if (!is_session_site(*context)) return result::forbidden;
    const int32_t code = setup_stream_channel(context, uid, canvas);
    if (code == 0) engine_->setupRemoteVideo(canvas);
    return code;
}

void rtc_engine_agent::resume_early_subscriptions() {
    for (const auto& [server, handle] : early_subscriptions_) {
        net_.post_to_connection(server, handle, [this](connection_context& context) {
            resume_subscription(context);
        });
    }
    early_subscriptions_.clear();
}

// A connection turned to its own video meanwhile keeps it; one that subscribed again is set up
// for its latest uid. A refusal answers the "subscribe" that was answered true before.
void rtc_engine_agent::resume_subscription(connection_context& context) {
    if (context.state != connection_stream || context.uid == 0) return;
    const int32_t code = subscribe(&context, context.uid);
    if (code == result::ok) return;
    std::string reply;
    if (code == result::forbidden) {
        reply = refusal_reply("subscribe", "other-site");
    } else {
        JsonValue answer;
        answer.makeObject();
        answer.setString("command", "subscribe");
        set_reply_code(answer, code);
        reply = answer.toString();
    }
    net_.send_text(context.server_index, context.handle, reply);
}

int32_t rtc_engine_agent::setup_stream_channel(connection_context* context, uint32_t uid,
                                               kelvo::rtc::VideoCanvas& canvas) {
    // Dropped when this returns, outside the channel lock.
    const std::shared_ptr<VideoStreamChannel> earlier = switch_connection_uid(*context, uid);
    writeLog(kelvo::rtc::LOG_LEVEL_INFO, "setup video channel for user %d", static_cast<int>(uid));
    std::shared_ptr<VideoStreamChannel> replaced;
    const std::shared_ptr<VideoStreamChannel> channel = streams_.add(*context, replaced);
    if (!channel) return result::too_many_streams;
    replaced.reset();
    ensure_video_enabled(*engine_);
    canvas.view = channel->identity();
    canvas.renderMode = kelvo::rtc::RENDER_MODE_HIDDEN;
    canvas.uid = uid;
    return result::ok;
}

// The earlier channel's view is removed from the engine at once: its renderer may not even exist
// yet, and then no closed notice could reach the engine.
std::shared_ptr<VideoStreamChannel> rtc_engine_agent::switch_connection_uid(
    connection_context& context, uint32_t uid) {
    std::shared_ptr<VideoStreamChannel> earlier = streams_.take(context);
    if (earlier) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "close channel for user %u", context.uid);
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

void rtc_engine_agent::close_stream_channel(connection_context* context) {
    writeLog(kelvo::rtc::LOG_LEVEL_INFO, "close channel for user %u", context->uid);
    streams_.take(*context);
}

void rtc_engine_agent::clear_all_stream_channels() {
    writeLog(kelvo::rtc::LOG_LEVEL_INFO, "clear all channels");
    streams_.clear();
}

void rtc_engine_agent::announce_stream(uint32_t uid) {
    JsonValue message;
    message.makeObject();
    message.setString("command", "onAddVideoStream");
    message.setUInt("uid", uid);
    sendToControl(message.toString());
}

int32_t rtc_engine_agent::sendFrame(const connection_context& context, const binary_group& frame,
                                    int32_t* dropped) {
    return net_.send_binary_group(context.server_index, context.handle, frame, dropped);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
