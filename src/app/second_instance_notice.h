// What a start says when another instance already serves pages. The running one is left alone,
// so the user learns why nothing new started and what to do about it.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// One line, ending in a line break; `holder` is the running instance's process identifier, 0
// when not known.
std::string second_instance_notice(unsigned long holder);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
