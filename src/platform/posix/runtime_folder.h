// The folder that holds the agent's per-user run-time objects on POSIX systems: the
// single-instance lock file and the control socket. Whoever may put files in it can fake both
// (hold the lock, or take the socket's name), so it must be a folder of this user's alone.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// $KELVO_AGENT_RUNTIME_DIR (lets tests run an agent beside a user's), else $XDG_RUNTIME_DIR, the
// first one set to an absolute path: it must be a folder of this user's in which nobody else may
// write. Without either, a folder of this user's own in $TMPDIR (else /tmp),
// "kelvo-web-agent-<uid>", made when missing with access for this user alone; it must be a real
// folder (not a link), this user's, with nobody else allowed in. Empty when the folder is
// refused, with the reason in `problem` (for the user: what is wrong and what to do).
std::string platform_runtime_folder(std::string* problem = nullptr);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
