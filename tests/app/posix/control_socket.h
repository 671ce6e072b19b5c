// Raw access to a test agent's control socket.
#pragma once

#include <string>

#include "app/agent_process.h"

namespace kelvo {
namespace test {

// Sends one datagram to the control socket of an agent of this setup; false when none answers.
bool post_control_text(const agent_setup& setup, const std::string& text);

}  // namespace test
}  // namespace kelvo
