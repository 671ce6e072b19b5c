#include "net/server_error_log.h"

#include <cstdio>
#include <exception>
#include <mutex>

namespace kelvo {
namespace rtc {
namespace web {

namespace {

// Guards `sink`.
std::mutex sink_mutex;
server_error_sink sink;

}  // namespace

void set_server_error_sink(server_error_sink replacement) {
    std::lock_guard<std::mutex> lock(sink_mutex);
    sink = std::move(replacement);
}

void report_server_error(const std::string& line) {
    server_error_sink current;
    {
        std::lock_guard<std::mutex> lock(sink_mutex);
        current = sink;
    }
    if (current) {
        current(line);
    } else {
        std::fprintf(stderr, "Kelvo Web Agent: %s\n", line.c_str());
    }
}

bool run_reporting_exceptions(const std::string& where, const std::function<void()>& call) {
    try {
        call();
        return true;
    } catch (const std::exception& error) {
        report_server_error(where + ": " + error.what());
    } catch (...) {
        report_server_error(where + ": an exception that is not a std::exception");
    }
    return false;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
