// No shell windows here: only the whole desktop can be shared.
#include "platform/window_list.h"

namespace kelvo {
namespace rtc {
namespace web {

intptr_t platform_desktop_window() { return 1; }

std::vector<shell_window> platform_shell_windows() { return {}; }

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
