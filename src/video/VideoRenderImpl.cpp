#include "video/VideoRenderImpl.h"

#include "video/VideoStreamChannel.h"

namespace kelvo {
namespace rtc {
namespace web {

VideoRenderImpl::VideoRenderImpl(kelvo::media::IExternalVideoRenderCallback* callback,
                                 std::weak_ptr<VideoStreamChannel> channel)
    : callback_(callback), channel_(std::move(channel)) {
    if (std::shared_ptr<VideoStreamChannel> live = channel_.lock()) {
        live->attachCallback(this);
    }
}

void VideoRenderImpl::release() {
    if (std::shared_ptr<VideoStreamChannel> live = channel_.lock()) {
        live->attachCallback(nullptr);
    }
    delete this;
}

int VideoRenderImpl::initialize() { return 0; }

// The strong reference lives only for the call: a channel dropped from the table meanwhile is
// destroyed when the delivery returns, never during it.
int VideoRenderImpl::deliverFrame(const kelvo::media::IVideoFrame& frame, int rotation,
                                  bool mirrored) {
    if (std::shared_ptr<VideoStreamChannel> live = channel_.lock()) {
        return live->deliverFrame(frame, rotation, mirrored);
    }
    return -1;
}

void VideoRenderImpl::onChannelClosed() {
    if (callback_ != nullptr) {
        callback_->onViewDestroyed();
    }
}

void VideoRenderImpl::onViewSizeChanged(int32_t width, int32_t height) {
    if (callback_ != nullptr) {
        callback_->onViewSizeChanged(width, height);
    }
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
