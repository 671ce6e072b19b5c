// How long a test waits for something that is to come (a reply, a connection, a log line).
#pragma once

#include <chrono>

namespace kelvo {
namespace test {

// Generous: tests wait for results, they never time them, and only a failing test waits this
// long. Under Wine on a loaded machine one WebSocket handshake alone can take seconds (the agent
// reads the TCP table to learn who connected, and Wine serves that table from another process).
constexpr std::chrono::milliseconds agent_timeout{30000};

}  // namespace test
}  // namespace kelvo
