// A monotonic millisecond clock and unique identifier texts.
#pragma once

#include <cstdint>
#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// Milliseconds from an arbitrary fixed origin; never goes backwards.
int64_t nowMilliseconds();

// 32 uppercase hexadecimal digits, or the empty text when none could be made.
std::string newUniqueId();

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
