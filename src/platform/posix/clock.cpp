#include "platform/clock.h"

#include <time.h>

namespace kelvo {
namespace rtc {
namespace web {

int64_t platform_monotonic_milliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
