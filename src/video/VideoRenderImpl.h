// The renderer the engine gets for a view: hands the view's frames to its stream channel and
// carries the channel's notices back to the engine through the link they share. It never owns the
// channel.
#pragma once

#include <memory>

#include <kelvo/rizudada_engine.h>

#include "video/VideoRenderLink.h"

namespace kelvo {
namespace rtc {
namespace web {

class VideoStreamChannel;

class VideoRenderImpl final : public kelvo::media::IExternalVideoRender {
public:
    // Attaches its link to the channel when the channel still lives.
    VideoRenderImpl(kelvo::media::IExternalVideoRenderCallback* callback,
                    std::weak_ptr<VideoStreamChannel> channel);
    VideoRenderImpl(const VideoRenderImpl&) = delete;
    VideoRenderImpl& operator=(const VideoRenderImpl&) = delete;

    // IExternalVideoRender
    void release() override;
    int initialize() override;
    int deliverFrame(const kelvo::media::IVideoFrame& frame, int rotation, bool mirrored) override;

private:
    // Only release() destroys a renderer.
    ~VideoRenderImpl() = default;

    // Shared with the channel, which may outlive this renderer or go before it.
    const std::shared_ptr<VideoRenderLink> link_;
    const std::weak_ptr<VideoStreamChannel> channel_;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
