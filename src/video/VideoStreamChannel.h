// One page's stream of one user's video: packs the frames the engine delivers into four binary
// messages on the page's stream connection, dropping whole stale frames when the page is slow
// and sending no more frames than the page reports it can draw.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include <kelvo/rizudada_engine.h>

#include "base/thread_annotations.h"
#include "net/connection_context.h"
#include "video/IVideoChannelCallback.h"
#include "video/IVideoStreamHost.h"
#include "video/PageFramePace.h"
#include "video/frame_packer.h"

namespace kelvo {
namespace rtc {
namespace web {

class VideoStreamChannel {
public:
    // Copies the context (server index, uid, requested view size) and its connection handle.
    VideoStreamChannel(IVideoStreamHost& host, const connection_context& context);
    // Tells the attached renderer that its view is gone. Must not run under the channel lock.
    ~VideoStreamChannel();
    VideoStreamChannel(const VideoStreamChannel&) = delete;
    VideoStreamChannel& operator=(const VideoStreamChannel&) = delete;

    // The view handle the engine gets for this channel.
    void* identity() { return this; }
    uint32_t uid() const { return context_.uid; }

    // Engine render thread, one at a time per channel; takes neither the agent nor the channel
    // lock. 0 when the frame was queued (or the channel is paused), -1 when it was refused or
    // could not be sent.
    int32_t deliverFrame(const kelvo::media::IVideoFrame& frame, int32_t rotation, bool mirrored);

    // Stores the renderer's callback (or none); it gets the requested view size at once. Engine
    // threads.
    void attachCallback(std::shared_ptr<IVideoChannelCallback> callback);
    // Resuming a paused channel makes its next frame announce the stream again.
    void setPaused(bool paused);
    // Same uid, and both handles lead to the same live connection or both to none.
    bool belongsTo(const connection_context& context) const;
    // Frames per second since the previous report and frames dropped since then; resets both.
    // `page_fps`: the frames per second the page reports drawing, which paces the stream.
    // Called under the channel lock.
    void report(int32_t page_fps, int32_t& rate, int32_t& dropped);

private:
    IVideoStreamHost& host_;
    const connection_context context_;
    // The attached renderer's callback. Set by the engine's threads, taken by the destructor on
    // any thread; called only after the lock is released.
    checked_mutex callback_lock_;
    std::shared_ptr<IVideoChannelCallback> callback_ KELVO_GUARDED_BY(callback_lock_);
    std::atomic<int32_t> frames_sent_{0};
    std::atomic<int32_t> frames_dropped_{0};
    // Frames handed to the connection since the last report.
    std::atomic<int32_t> frames_to_page_{0};
    PageFramePace pace_;
    std::atomic<bool> paused_{false};
    std::atomic<bool> announce_pending_{false};
    int64_t last_report_time_;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
