// The switches that only tell about the program, each alone on the command line:
//   -version             the agent's version and, when it can be loaded, the engine library's
//   -help, -h, --help    every switch the program takes
// Neither takes the single-instance lock nor starts a server.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kelvo {
namespace rtc {
namespace web {

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
