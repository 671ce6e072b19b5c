// Windows: the tray menu's items beyond the menu resource: an "About" line with the agent's and
// the engine's versions, and "Start at login" beside "Quit", checked while the user's Run key
// starts the agent. They are added as the menu opens, so the resource stays as it is.
#pragma once

#include <windows.h>

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

inline constexpr UINT start_at_login_command = 32790;
inline constexpr UINT about_command = 32791;

// "Kelvo Web Agent <agent version>, engine <engine version>" (the engine's text in the ANSI
// code page; null: the engine library or its version is missing).
std::wstring tray_about_text(const char* engine_version);

// For WM_INITMENUPOPUP of the tray's popup: adds the items the first time this menu opens and
// checks "Start at login" as the Run key says now (the user may have changed it elsewhere).
void prepare_tray_menu(HMENU popup);

// Carries out an item's command (WM_COMMAND); false for a command of another item.
bool run_tray_menu_command(UINT command);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
