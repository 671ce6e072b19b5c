// What the user is asked about a site, in the same words on every platform.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// The origin that file pages and sandboxed frames share: it is never remembered as allowed.
bool is_shared_null_origin(const std::string& origin);

// "<origin> wants to use your camera, ... through Kelvo Web Agent. Allow?" (UTF-8).
std::string consent_question_text(const std::string& origin);

// Why the origin "null" can be allowed for this run only.
std::string null_origin_note();

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
