#include "app/starting_console_win.h"

#include <windows.h>

#include <cstdio>

namespace kelvo {
namespace rtc {
namespace web {

void write_to_starting_console() {
    if (GetStdHandle(STD_ERROR_HANDLE) != nullptr || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
