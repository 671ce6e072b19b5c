#include "app/tray_usage_indicator.h"

#include <vector>

namespace kelvo {
namespace rtc {
namespace web {

namespace {

bool sameUse(const device_use& a, const device_use& b) {
    return a.camera == b.camera && a.screen == b.screen && a.recording == b.recording;
}

// "the camera", "the camera and screen sharing", "the camera, screen sharing and a recording".
std::string useList(const device_use& use) {
    std::vector<std::string> names;
    if (use.camera) names.push_back("the camera");
    if (use.screen) names.push_back("screen sharing");
    if (use.recording) names.push_back("a recording");
    std::string list;
    for (size_t index = 0; index < names.size(); ++index) {
        if (index > 0) list += index + 1 == names.size() ? " and " : ", ";
        list += names[index];
    }
    return list;
}

}  // namespace

void tray_usage_indicator::show_use(const std::string& origin, const device_use& use) {
    bool changed = false;
    {
        checked_lock hold(lock_);
        const auto known = in_use_.find(origin);
        if (!use.any()) {
            changed = known != in_use_.end();
            if (changed) in_use_.erase(known);
        } else if (known == in_use_.end() || !sameUse(known->second, use)) {
            in_use_[origin] = use;
            changed = true;
        }
    }
    if (changed) wakeup_.wake();
}

std::string tray_usage_indicator::usage_text() const {
    checked_lock hold(lock_);
    std::string text;
    for (const auto& site : in_use_) {
        if (!text.empty()) text += "; ";
        text += site.first + " is using " + useList(site.second);
    }
    return text;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
