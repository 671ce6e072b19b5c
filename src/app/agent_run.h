// The part of the program's run that is the same on every platform: the server set and the
// agent, the two servers, the control window's loop and the teardown in its fixed order.
#pragma once

#include <string>

#include "app/control_window.h"
#include "app/server_ports.h"

namespace kelvo {
namespace rtc {
namespace web {

// Reads the user's site decisions, builds the server set and then the agent, starts the TLS
// server (certificates from `cert_dir`) and then the plain server, and runs the control window
// made by `make_window` (which reloads the decisions when told) until its loop ends. Returns the
// loop's exit code, or -1 when a server could not start (the plain server is not tried after the
// TLS server failed). Servers are always gone before the agent, and the agent before the set.
int run_agent(const std::string& cert_dir, const server_ports& ports,
              const control_window_factory& make_window);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
