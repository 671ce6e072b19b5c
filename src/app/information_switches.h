// The switches that only tell about the program, each alone on the command line:
//   -version             the agent's version and, when it can be loaded, the engine library's
//   -help, -h, --help    every switch the program takes, and the environment variables it reads
// Neither takes the single-instance lock nor starts a server.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kelvo {
namespace rtc {
namespace web {

// Like -kill, for an installer that starts the new agent right after: the running agent tells its
// pages "service restart" (close code 1012) instead of "the agent is quitting" (1001).
inline constexpr const char kill_for_upgrade_switch[] = "-kill-for-upgrade";

// One switch as the usage lists it.
struct switch_usage {
    const char* form;     // as typed: "-allow ORIGIN"
    const char* meaning;  // what it does
};

// The text that the command line `words` (after the program's name) asks for, ending in a line
// break, or none when the words are not one of these switches. The usage lists the switches of
// every platform, then `platform_switches`, those of this platform alone.
std::optional<std::string> information_switch_text(
    const std::vector<std::string>& words, const std::vector<switch_usage>& platform_switches);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
