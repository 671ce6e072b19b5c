#include "agent/agent_log.h"

#include <cstdio>
#include <cstring>

#include "agent/rtc_engine_agent.h"

namespace kelvo {
namespace rtc {
namespace web {

void format_log_line(char (&line)[log_line_characters + 1], const char* format, va_list values) {
    constexpr size_t prefix_size = sizeof log_line_prefix - 1;
    std::memcpy(line, log_line_prefix, prefix_size);
    char* text = line + prefix_size;
    if (std::vsnprintf(text, sizeof line - prefix_size, format, values) < 0) *text = '\0';
}

void rtc_engine_agent::writeLog(kelvo::rtc::LOG_LEVEL level, const char* format, ...) {
    if (!log_gate_.is_open()) return;  // no engine: the values are not even formatted
    char line[log_line_characters + 1];
    va_list values;
    va_start(values, format);
    format_log_line(line, format, values);
    va_end(values);
    log_gate_.write(level, line);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
