#include "app/crash_restart_win.h"

#include <windows.h>

namespace kelvo {
namespace rtc {
namespace web {

bool register_crash_restart() {
    return SUCCEEDED(RegisterApplicationRestart(nullptr, RESTART_NO_REBOOT));
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
