// How the agent ends every page's connection when it stops on purpose: a close code and reason a
// page can tell from a crash (1006, no close frame) and from each other: a user who quit the agent
// wants nothing switched on again by itself, a restart for an upgrade is back in a moment.
#pragma once

#include <chrono>

namespace kelvo {
namespace rtc {
namespace web {

struct agent_close {
    int code;
    const char* reason;
};

// Tray Quit, -kill, SIGTERM/SIGINT, the control socket's "close".
constexpr agent_close agent_quitting{1001, "the agent is quitting"};
// -kill-for-upgrade: an installer stops the agent and starts the new one.
constexpr agent_close agent_restarting{1012, "service restart"};

// How long the agent waits for the pages to answer its close frames before it stops anyway; a
// page answers at once unless it has stopped reading.
constexpr std::chrono::milliseconds close_patience{2000};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
