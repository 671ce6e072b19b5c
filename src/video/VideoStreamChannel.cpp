#include "video/VideoStreamChannel.h"

#include <algorithm>
#include <limits>

#include "base/clock.h"

namespace kelvo {
namespace rtc {
namespace web {

// The first report measures from the channel's creation, so it already carries a rate.
VideoStreamChannel::VideoStreamChannel(IVideoStreamHost& host, const connection_context& context)
    : host_(host), context_(context), last_report_time_(nowMilliseconds()) {}

VideoStreamChannel::~VideoStreamChannel() {
    std::shared_ptr<IVideoChannelCallback> callback;
    {
        checked_lock lock(callback_lock_);
        callback.swap(callback_);
    }
    if (callback) callback->onChannelClosed();
}

int32_t VideoStreamChannel::deliverFrame(const kelvo::media::IVideoFrame& frame, int32_t rotation,
                                         bool mirrored) {
    if (paused_.load()) {
        return 0;
    }
    frame_layout layout;
    if (!frame_layout_of(frame, layout)) {
        return -1;
    }

    // Taken in one step: a pause and resume meanwhile sets it again for the next frame.
    if (announce_pending_.exchange(false)) {
        host_.announceStream(context_.uid);
    }

    frames_sent_.fetch_add(1);
    if (!pace_.frameDue(nowMilliseconds())) {
        frames_dropped_.fetch_add(1);
        return 0;
    }
    int32_t result = -1;
    // The own camera is shown before joining too (a lobby); remote users' frames need a channel.
    if (context_.uid == 0 || host_.isJoined()) {
        size_t sizes[frame_messages];
        frame_message_sizes(layout, sizes);
        const uint32_t timestamp = frame_timestamp_now();
        const binary_group messages{sizes, frame_messages, [&](uint8_t* const* payloads) {
                                        pack_frame(frame, layout, rotation, mirrored, timestamp,
                                                   payloads);
                                    }};
        int32_t dropped = 0;
        result = host_.sendFrame(context_, messages, &dropped);
        if (result == 0) {
            frames_to_page_.fetch_add(1);
            frames_dropped_.fetch_add(dropped / static_cast<int32_t>(frame_messages));
        }
    }
    return result;
}

void VideoStreamChannel::attachCallback(std::shared_ptr<IVideoChannelCallback> callback) {
    {
        checked_lock lock(callback_lock_);
        callback_ = callback;
    }
    if (callback && context_.view_width != 0 && context_.view_height != 0) {
        callback->onViewSizeChanged(context_.view_width, context_.view_height);
    }
}

void VideoStreamChannel::setPaused(bool paused) {
    if (paused_.load() && !paused) {
        announce_pending_.store(true);
    }
    paused_.store(paused);
}

bool VideoStreamChannel::belongsTo(const connection_context& context) const {
    return context.uid == context_.uid && context.handle.lock() == context_.handle.lock();
}

namespace {

int32_t per_second(int32_t count, int64_t elapsed_ms) {
    if (elapsed_ms <= 0) return 0;
    return static_cast<int32_t>(
        std::min<int64_t>(int64_t{count} * 1000 / elapsed_ms, std::numeric_limits<int32_t>::max()));
}

}  // namespace

void VideoStreamChannel::report(int32_t page_fps, int32_t& rate, int32_t& dropped) {
    dropped = frames_dropped_.exchange(0);
    const int64_t now = nowMilliseconds();
    const int64_t elapsed = now - last_report_time_;
    rate = per_second(frames_sent_.exchange(0), elapsed);
    pace_.pageReport(page_fps, per_second(frames_to_page_.exchange(0), elapsed));
    last_report_time_ = now;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
