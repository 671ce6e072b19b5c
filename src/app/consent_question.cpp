#include "app/consent_question.h"

namespace kelvo {
namespace rtc {
namespace web {

bool is_shared_null_origin(const std::string& origin) {
    return origin == "null";
}

std::string consent_question_text(const std::string& origin) {
    const std::string who = is_shared_null_origin(origin)
                                ? "A page of the origin \"null\""
                                : origin;
    return who +
           " wants to use your camera, microphone, screen and window titles, and recordings "
           "through Kelvo Web Agent. Allow?";
}

std::string null_origin_note() {
    return "File pages and sandboxed frames all share the origin \"null\", so it is allowed for "
           "this run of the agent only and never remembered.";
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
