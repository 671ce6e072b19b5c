#include "agent/agent_log.h"

#include <cstdio>

#include "agent/rtc_engine_agent.h"

namespace kelvo {
namespace rtc {
namespace web {

void format_log_line(char (&line)[log_line_characters + 1], const char* format, va_list values) {
    if (std::vsnprintf(line, sizeof line, format, values) < 0) line[0] = '\0';
}

void rtc_engine_agent::writeLog(int level, const char* format, ...) {
    if (!log_gate_.is_open()) return;  // no engine: the values are not even formatted
    char line[log_line_characters + 1];
    va_list values;
    va_start(values, format);
    format_log_line(line, format, values);
    va_end(values);
    log_gate_.write(static_cast<kelvo::rtc::LOG_LEVEL>(level), line);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
