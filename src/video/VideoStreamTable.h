// The agent's stream channels, one per uid, and the engine's render factory that finds a view's
// channel. The table's lock is the channel lock: taken after the agent lock where both are held,
// and never held while the engine is called. A channel leaving the table is handed back to the
// caller (or dropped after unlocking), because its destruction notifies the engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>

#include <kelvo/rizudada_engine.h>

#include "base/thread_annotations.h"
#include "net/connection_context.h"
#include "video/IVideoStreamHost.h"
#include "video/VideoStreamChannel.h"

namespace kelvo {
namespace rtc {
namespace web {

class VideoStreamTable final : public kelvo::media::IExternalVideoRenderFactory {
public:
    // The most channels kept at once: each one costs the engine a view and a render thread.
    static constexpr size_t max_channels = 64;

    explicit VideoStreamTable(IVideoStreamHost& host) : host_(host) {}
    VideoStreamTable(const VideoStreamTable&) = delete;
    VideoStreamTable& operator=(const VideoStreamTable&) = delete;

    // A new channel for the context's uid and connection, replacing (and returning in `replaced`)
    // the uid's channel; null when the table is full and the uid has none.
    std::shared_ptr<VideoStreamChannel> add(const connection_context& context,
                                            std::shared_ptr<VideoStreamChannel>& replaced);
    // Removes and returns the channel of the context's uid if it belongs to that connection.
    std::shared_ptr<VideoStreamChannel> take(const connection_context& context);
    // Removes every channel; they are destroyed before this returns.
    void clear();

    bool contains(uint32_t uid);
    void setPaused(uint32_t uid, bool paused);
    // The channel's measured rate and dropped frames since its last report, given the rate the
    // page reports drawing; untouched without one.
    void report(uint32_t uid, int32_t page_fps, int32_t& rate, int32_t& dropped);

    // IExternalVideoRenderFactory, on engine threads: a renderer for the channel whose identity is
    // the view handle, or null.
    kelvo::media::IExternalVideoRender* createRenderInstance(
        const kelvo::media::ExternalVideoRenderContext& context) override;

private:
    IVideoStreamHost& host_;
    // The channel lock: taken after the agent lock where both are held; no engine call is made
    // while it is held. Server and engine threads.
    checked_mutex lock_;
    std::unordered_map<uint32_t, std::shared_ptr<VideoStreamChannel>> channels_ KELVO_GUARDED_BY(lock_);
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
