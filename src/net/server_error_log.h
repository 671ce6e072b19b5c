// Where the servers report the failures they survive, such as an exception thrown by a handler.
// The agent keeps no log file of its own: lines go to standard error unless a sink is set.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

namespace kelvo {
namespace rtc {
namespace web {

using server_error_sink = std::function<void(const std::string& line)>;

// Replaces the sink; an empty one restores standard error. Safe from any thread.
void set_server_error_sink(server_error_sink sink);

// Reports the line "server <server_index>: <what>: <error>".
void report_server_error(int32_t server_index, const char* what, const char* error);

// Runs `call`. An exception that leaves it is reported and goes no further; false then.
template <typename call_type>
bool run_reporting_exceptions(int32_t server_index, const char* what, call_type&& call) {
    try {
        call();
        return true;
    } catch (const std::exception& error) {
        report_server_error(server_index, what, error.what());
    } catch (...) {
        report_server_error(server_index, what, "an exception that is not a std::exception");
    }
    return false;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
