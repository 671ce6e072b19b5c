// Where the agent keeps the settings of the current OS user.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// The agent's folder among this user's settings, in UTF-8 and made when missing: Windows
// %APPDATA%\Kelvo Web Agent (the roaming application data folder when the variable is not
// set); elsewhere $XDG_CONFIG_HOME/kelvo-web-agent, or ~/.config/kelvo-web-agent when that is
// not set to an absolute path, made readable by the user only. Empty when the user has no such
// folder (no home).
std::string platform_user_config_folder();

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
