// How a stream channel talks back to the renderer attached to it.
#pragma once

#include <cstdint>

namespace kelvo {
namespace rtc {
namespace web {

class IVideoChannelCallback {
public:
    // The channel is going away: its view will get no more frames.
    virtual void onChannelClosed() = 0;
    // The page asked for this view size; the engine should produce frames at it.
    virtual void onViewSizeChanged(int32_t width, int32_t height) = 0;

protected:
    ~IVideoChannelCallback() = default;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
