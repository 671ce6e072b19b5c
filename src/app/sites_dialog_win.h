// The tray's "Sites..." window on Windows: the remembered decisions, one a line, and "Forget" for
// the chosen one. Modeless, owned by the control window and run by its loop.
#pragma once

#include <windows.h>

#include "app/site_list.h"

namespace kelvo {
namespace rtc {
namespace web {

// Shows the window over `sites` (which must outlive it) and returns it; null when it cannot be
// shown.
HWND open_sites_dialog(HWND owner, const site_list& sites);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
