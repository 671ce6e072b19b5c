#include "app/main_thread_wakeup.h"

#include <utility>

namespace kelvo {
namespace rtc {
namespace web {

void main_thread_wakeup::set(std::function<void()> wake) {
    checked_lock hold(lock_);
    wake_ = std::move(wake);
}

void main_thread_wakeup::wake() {
    checked_lock hold(lock_);
    if (wake_) wake_();
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
