// What a stream channel and the renderer attached to it share. Both own it, so either may go
// first: the channel passes its notices to the engine through the link, and the renderer's
// release cuts the link before the renderer is destroyed.
#pragma once

#include <cstdint>

#include <kelvo/rizudada_engine.h>

#include "base/thread_annotations.h"
#include "video/IVideoChannelCallback.h"

namespace kelvo {
namespace rtc {
namespace web {

class VideoRenderLink final : public IVideoChannelCallback {
public:
    // `engine_callback` is the engine's render callback of the renderer's view (may be null).
    explicit VideoRenderLink(kelvo::media::IExternalVideoRenderCallback* engine_callback)
        : engine_callback_(engine_callback) {}

    // IVideoChannelCallback: passed to the engine until the link is cut.
    void onChannelClosed() override;
    void onViewSizeChanged(int32_t width, int32_t height) override;

    // The renderer is being released: once this returns, no notice reaches the engine.
    void cut();

private:
    // Held while a notice is passed to the engine and while the link is cut, so that a channel
    // going away on a server thread never calls the engine about a renderer that the engine has
    // released meanwhile. The engine's render callback therefore must not wait for a renderer's
    // release.
    checked_mutex lock_;
    // Null once cut.
    kelvo::media::IExternalVideoRenderCallback* engine_callback_ KELVO_GUARDED_BY(lock_);
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
