// The operating system's monotonic clock.
#pragma once

#include <cstdint>

namespace kelvo {
namespace rtc {
namespace web {

// Milliseconds from an arbitrary fixed origin (such as boot); never goes backwards.
int64_t platform_monotonic_milliseconds();

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
