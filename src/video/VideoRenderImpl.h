// The renderer the engine gets for a view: hands the view's frames to its stream channel and
// carries the channel's notices back to the engine. It never owns the channel.
#pragma once

#include <memory>

#include <kelvo/rizudada_engine.h>

#include "video/IVideoChannelCallback.h"

namespace kelvo {
namespace rtc {
namespace web {

class VideoStreamChannel;

class VideoRenderImpl final : public kelvo::media::IExternalVideoRender,
                              public IVideoChannelCallback {
public:
    // Attaches itself to the channel when it still lives.
    VideoRenderImpl(kelvo::media::IExternalVideoRenderCallback* callback,
                    std::weak_ptr<VideoStreamChannel> channel);
    VideoRenderImpl(const VideoRenderImpl&) = delete;
    VideoRenderImpl& operator=(const VideoRenderImpl&) = delete;

    // IExternalVideoRender
    void release() override;
    int initialize() override;
    int deliverFrame(const kelvo::media::IVideoFrame& frame, int rotation, bool mirrored) override;

    // IVideoChannelCallback
    void onChannelClosed() override;
    void onViewSizeChanged(int32_t width, int32_t height) override;

private:
    // Only release() destroys a renderer.
    ~VideoRenderImpl() = default;

    kelvo::media::IExternalVideoRenderCallback* const callback_;
    const std::weak_ptr<VideoStreamChannel> channel_;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
