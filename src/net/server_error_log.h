// Where the servers report the failures they survive, such as an exception thrown by a handler.
// The agent keeps no log file of its own: lines go to standard error unless a sink is set.
#pragma once

#include <functional>
#include <string>

namespace kelvo {
namespace rtc {
namespace web {

using server_error_sink = std::function<void(const std::string& line)>;

// Replaces the sink; an empty one restores standard error. Safe from any thread.
void set_server_error_sink(server_error_sink sink);

void report_server_error(const std::string& line);

// Runs `call`. An exception that leaves it is reported as "<where>: <what it says>" and goes
// no further; false then.
bool run_reporting_exceptions(const std::string& where, const std::function<void()>& call);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
