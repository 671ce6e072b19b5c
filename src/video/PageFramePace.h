// How many frames a second a stream sends its page.
//
// A page that draws fewer frames than it receives throws the rest away, after the agent packed
// them, the socket carried them and the browser read them, which takes the very processor time
// the page lacks for drawing. So once the page reports ("videoStat" "fps") drawing fewer than
// nine in ten of the frames it was sent, the stream sends a quarter more than it draws (and two),
// and each report that the page keeps up doubles that, until every frame is sent again. A page
// that reports no rate, or draws nothing (hidden), gets every frame, as one that never reports.
#pragma once

#include <atomic>
#include <cstdint>

namespace kelvo {
namespace rtc {
namespace web {

class PageFramePace {
public:
    // The engine's render thread: whether the frame arriving at `now_ms` goes to the page.
    bool frameDue(int64_t now_ms);
    // The page drew `drawn_fps` while it was sent `sent_fps`, over the same second.
    void pageReport(int32_t drawn_fps, int32_t sent_fps);

private:
    // At this allowance every frame an engine makes goes out anyway.
    static constexpr int32_t unpaced_from_fps = 60;

    // Frames per second the page is sent; 0 sends every frame. Set by the page's reports, read
    // on the render thread.
    std::atomic<int32_t> allowed_fps_{0};
    // Render thread only: when the next frame may go.
    int64_t next_due_ms_ = 0;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
