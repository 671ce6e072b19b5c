#include "call_hold.h"

#include <utility>

namespace kelvo {
namespace rtc {
namespace standin {

void call_hold::arm(std::string prefix, std::chrono::milliseconds limit) {
    std::lock_guard<std::mutex> lock(mutex_);
    prefix_ = std::move(prefix);
    limit_ = limit;
    armed_ = true;
}

call_hold::passage::passage(call_hold& hold, const std::string& text)
    : hold_(hold), held_(hold.wait_if_armed(text)) {}

call_hold::passage::~passage() {
    if (held_) hold_.leave();
}

bool call_hold::wait_if_armed(const std::string& text) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!armed_ || releasing_ || text.compare(0, prefix_.size(), prefix_) != 0) return false;
    armed_ = false;
    inside_ = true;
    log_.write("hold " + text);
    changed_.wait_for(lock, limit_, [this] { return releasing_; });
    return true;
}

void call_hold::leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    inside_ = false;
    changed_.notify_all();
}

void call_hold::release_started() {
    std::unique_lock<std::mutex> lock(mutex_);
    releasing_ = true;
    if (!inside_) return;
    log_.write("release while a call runs");
    changed_.notify_all();
    changed_.wait(lock, [this] { return !inside_; });
}

}  // namespace standin
}  // namespace rtc
}  // namespace kelvo
