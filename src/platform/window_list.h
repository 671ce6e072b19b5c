// The desktop and the shell's application windows, for screen sharing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo {
namespace rtc {
namespace web {

struct shell_window {
    intptr_t handle;
    // The window's title in UTF-8, not empty.
    std::string title;
};

// The native handle of the whole desktop. Where the system has no such handle (POSIX) a fixed
// stand-in value, 1, that no application window shares.
intptr_t platform_desktop_window();

// The top-level windows a user would share: visible, with a popup or system-menu style, not
// minimised, titled, and owned by a shell process ("explorer.exe" or one of its direct
// children). Titles are read into 128 wide characters. In the system's enumeration order; empty
// where the system offers no such windows (POSIX).
std::vector<shell_window> platform_shell_windows();

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
