#include "app/consent_question.h"

namespace kelvo {
namespace rtc {
namespace web {

std::string consent_question_text(const std::string& origin) {
    return origin +
           " wants to use your camera, microphone, screen and window titles, and recordings "
           "through Kelvo Web Agent. Allow?";
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
