#include "platform/clock.h"

#include <windows.h>

namespace kelvo {
namespace rtc {
namespace web {

int64_t platform_monotonic_milliseconds() {
    LARGE_INTEGER counter;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    const int64_t ticks = counter.QuadPart;
    const int64_t perSecond = frequency.QuadPart;
    // Exactly ticks * 1000 / perSecond (truncated), split so the product cannot overflow.
    return (ticks / perSecond) * 1000 + (ticks % perSecond) * 1000 / perSecond;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
