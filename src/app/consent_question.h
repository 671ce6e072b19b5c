// What the user is asked about a site, in the same words on every platform.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// "<origin> wants to use your camera, ... through Kelvo Web Agent. Allow?" (UTF-8).
std::string consent_question_text(const std::string& origin);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
