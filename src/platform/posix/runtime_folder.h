// The folder that holds the agent's per-user run-time objects on POSIX systems: the
// single-instance lock file and the control socket.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// $KELVO_AGENT_RUNTIME_DIR (lets tests run an agent beside a user's), else $XDG_RUNTIME_DIR, else
// $TMPDIR, else "/tmp"; the first one that is set and not empty.
std::string platform_runtime_folder();

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
