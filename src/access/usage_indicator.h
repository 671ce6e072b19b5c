// Showing the user that a site is using the camera, the screen or a recording.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

struct device_use {
    bool camera = false;
    bool screen = false;
    bool recording = false;
    bool any() const { return camera || screen || recording; }
};

class IUsageIndicator {
public:
    // What `origin` uses now (nothing: the indicator goes back to normal). Called on server and
    // engine threads; the indicator hands it to its own thread.
    virtual void show_use(const std::string& origin, const device_use& use) = 0;

protected:
    ~IUsageIndicator() = default;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
