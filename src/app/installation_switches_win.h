// Windows: the switches an installer runs, each alone on the command line (case-sensitive, like
// "-kill"): -make-certificate (app/certificate_switch.h), -trust-certificate and
// -untrust-certificate (app/certificate_trust_win.h).
#pragma once

#include <optional>
#include <vector>

#include "app/information_switches.h"

namespace kelvo {
namespace rtc {
namespace web {

// The switch's exit code when `command_line` is one of them; none for any other command line.
std::optional<int> run_installation_switch(const wchar_t* command_line);

// The switches above that only Windows has, as the usage lists them.
std::vector<switch_usage> windows_switch_usage();

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
