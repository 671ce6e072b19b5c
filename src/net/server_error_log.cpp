#include "net/server_error_log.h"

#include <cstdio>
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

void report_server_error(int32_t server_index, const char* what, const char* error) {
    const std::string line =
        "server " + std::to_string(server_index) + ": " + what + ": " + error;
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

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
