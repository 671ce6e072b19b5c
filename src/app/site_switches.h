// The command-line switches that edit the current user's sites file:
//   -allow ORIGIN    remember that the site may use the agent
//   -block ORIGIN    remember that it may not
//   -forget ORIGIN   forget either (the agent asks again)
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kelvo {
namespace rtc {
namespace web {

// True for "-allow", "-block" and "-forget" (exactly so spelled).
bool is_site_switch(const std::string& word);

// Runs the command line `words` (after the program's name) that begins with a site switch: edits
// the sites file at `path`, then calls `reload_running_agent` with the origin when it was
// forgotten, else with an empty text (it reports whether an agent was reached). Returns the exit code: 0 done, 1 the file could not be written, 2 the command
// line is wrong (no origin, more words, a text that is not an origin, "null" allowed). Every
// failure is explained on standard error.
int run_site_switch(const std::vector<std::string>& words, const std::string& path,
                    const std::function<bool(const std::string& forgotten)>& reload_running_agent);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
