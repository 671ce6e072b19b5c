#include "video/PageFramePace.h"

#include <algorithm>

namespace kelvo {
namespace rtc {
namespace web {

bool PageFramePace::frameDue(int64_t now_ms) {
    const int32_t allowed = allowed_fps_.load();
    if (allowed == 0) return true;
    if (now_ms < next_due_ms_) return false;
    // Measured from the due time, so frames a little early or late keep the rate; never from
    // before now, so a pause in the frames does not let a burst through after it.
    next_due_ms_ = std::max(next_due_ms_ + 1000 / allowed, now_ms);
    return true;
}

void PageFramePace::pageReport(int32_t drawn_fps, int32_t sent_fps) {
    if (drawn_fps <= 0) {
        allowed_fps_.store(0);
        return;
    }
    const int64_t drawn = drawn_fps;
    if (drawn * 10 >= int64_t{sent_fps} * 9) {
        const int32_t allowed = allowed_fps_.load();
        if (allowed != 0) allowed_fps_.store(allowed * 2 >= unpaced_from_fps ? 0 : allowed * 2);
        return;
    }
    const int64_t allowed = std::min<int64_t>(drawn + drawn / 4 + 2, unpaced_from_fps);
    allowed_fps_.store(static_cast<int32_t>(allowed));
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
