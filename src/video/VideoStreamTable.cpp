#include "video/VideoStreamTable.h"

#include <utility>

#include "video/VideoRenderImpl.h"

namespace kelvo {
namespace rtc {
namespace web {

std::shared_ptr<VideoStreamChannel> VideoStreamTable::add(
    const connection_context& context, std::shared_ptr<VideoStreamChannel>& replaced) {
    auto channel = std::make_shared<VideoStreamChannel>(host_, context);
    checked_lock lock(lock_);
    const auto found = channels_.find(context.uid);
    if (found == channels_.end() && channels_.size() >= max_channels) return nullptr;
    std::shared_ptr<VideoStreamChannel>& entry = channels_[context.uid];
    replaced = std::move(entry);
    entry = channel;
    return channel;
}

std::shared_ptr<VideoStreamChannel> VideoStreamTable::take(const connection_context& context) {
    std::shared_ptr<VideoStreamChannel> taken;
    checked_lock lock(lock_);
    const auto found = channels_.find(context.uid);
    if (found != channels_.end() && found->second->belongsTo(context)) {
        taken = std::move(found->second);
        channels_.erase(found);
    }
    return taken;
}

void VideoStreamTable::clear() {
    std::unordered_map<uint32_t, std::shared_ptr<VideoStreamChannel>> cleared;
    checked_lock lock(lock_);
    cleared.swap(channels_);
    // `cleared` is declared before the lock, so the channels go after it is released.
}

bool VideoStreamTable::contains(uint32_t uid) {
    checked_lock lock(lock_);
    return channels_.count(uid) != 0;
}

void VideoStreamTable::setPaused(uint32_t uid, bool paused) {
    checked_lock lock(lock_);
    const auto found = channels_.find(uid);
    if (found != channels_.end()) found->second->setPaused(paused);
}

void VideoStreamTable::report(uint32_t uid, int32_t page_fps, int32_t& rate, int32_t& dropped) {
    checked_lock lock(lock_);
    const auto found = channels_.find(uid);
    if (found != channels_.end()) found->second->report(page_fps, rate, dropped);
}

kelvo::media::IExternalVideoRender* VideoStreamTable::createRenderInstance(
    const kelvo::media::ExternalVideoRenderContext& context) {
    if (context.view == nullptr) return nullptr;
    std::weak_ptr<VideoStreamChannel> channel;
    {
        checked_lock lock(lock_);
        for (const auto& entry : channels_) {
            if (entry.second->identity() == context.view) {
                channel = entry.second;
                break;
            }
        }
    }
    if (channel.expired()) return nullptr;
    return new VideoRenderImpl(context.renderCallback, std::move(channel));
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
