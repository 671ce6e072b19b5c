#include "app/second_instance_notice.h"

namespace kelvo {
namespace rtc {
namespace web {

std::string second_instance_notice(unsigned long holder) {
    const std::string which = holder != 0 ? " (pid " + std::to_string(holder) + ")" : "";
    return "Kelvo Web Agent: another instance is already running" + which +
           "; it keeps serving pages. Stop it first (kelvo_web_agent -kill) to start a new one.\n";
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
