#include "video/VideoRenderImpl.h"

#include "video/VideoStreamChannel.h"

namespace kelvo {
namespace rtc {
namespace web {

VideoRenderImpl::VideoRenderImpl(kelvo::media::IExternalVideoRenderCallback* callback,
                                 std::weak_ptr<VideoStreamChannel> channel)
    : link_(std::make_shared<VideoRenderLink>(callback)), channel_(std::move(channel)) {
    if (std::shared_ptr<VideoStreamChannel> live = channel_.lock()) {
        live->attachCallback(link_);
    }
}

// The link is cut first: a channel that is being destroyed on another thread at this moment (and
// so can no longer be reached here) still holds the link, and must not reach the engine through
// it once the engine has released this renderer.
void VideoRenderImpl::release() {
    link_->cut();
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

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
