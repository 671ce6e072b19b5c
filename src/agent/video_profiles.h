// The fixed table from video profile names to the engine's profile numbers.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// The engine's profile number for a name (exact, case-sensitive), or -1 when none is named so.
int video_profile_number(const std::string& name);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
