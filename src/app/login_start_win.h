// Windows: starting the agent when the user logs in, through the user's Run key
// (HKCU\Software\Microsoft\Windows\CurrentVersion\Run, value "Kelvo Web Agent"), the entry that
// the installer makes and the tray menu's "Start at login" turns on and off.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// Whether the Run key has the agent's entry.
bool starts_at_login();

// Makes the entry start `program` (its full path), or removes it; true when done.
bool set_start_at_login(bool start, const std::wstring& program);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
