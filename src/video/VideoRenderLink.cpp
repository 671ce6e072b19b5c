#include "video/VideoRenderLink.h"

namespace kelvo {
namespace rtc {
namespace web {

void VideoRenderLink::onChannelClosed() {
    checked_lock lock(lock_);
    if (engine_callback_ != nullptr) engine_callback_->onViewDestroyed();
}

void VideoRenderLink::onViewSizeChanged(int32_t width, int32_t height) {
    checked_lock lock(lock_);
    if (engine_callback_ != nullptr) engine_callback_->onViewSizeChanged(width, height);
}

void VideoRenderLink::cut() {
    checked_lock lock(lock_);
    engine_callback_ = nullptr;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
