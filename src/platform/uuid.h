// The operating system's random UUIDs.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// A new random UUID in the standard 8-4-4-4-12 hexadecimal text form (either letter case), or the
// empty text when the system could not make one.
std::string platform_random_uuid_text();

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
