// The tray's usage indicator: what each site uses, recorded on the threads that report it and
// shown by the main thread on the icon (tray_icon::on_usage).
#pragma once

#include <map>
#include <string>

#include "access/usage_indicator.h"
#include "app/main_thread_wakeup.h"
#include "base/thread_annotations.h"

namespace kelvo {
namespace rtc {
namespace web {

class tray_usage_indicator : public IUsageIndicator {
public:
    tray_usage_indicator() = default;
    tray_usage_indicator(const tray_usage_indicator&) = delete;
    tray_usage_indicator& operator=(const tray_usage_indicator&) = delete;

    void show_use(const std::string& origin, const device_use& use) KELVO_EXCLUDES(lock_)
        override;

    // Woken whenever the usage changed. The main thread reads the usage after it set the
    // wake-up, since it may have changed before.
    main_thread_wakeup& wakeup() { return wakeup_; }
    // "https://example.com is using the camera and screen sharing": a clause for each site, in
    // the order of their origins, parted by "; ". Empty when nothing is in use.
    std::string usage_text() const KELVO_EXCLUDES(lock_);

private:
    main_thread_wakeup wakeup_;
    // The usage lock: what each site uses. A leaf: nobody is woken while it is held.
    mutable checked_mutex lock_;
    std::map<std::string, device_use> in_use_ KELVO_GUARDED_BY(lock_);
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
