// The agent's diagnostic lines: formatting into the engine's 255-character limit.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>

#include "agent/agent_log.h"

namespace {

using kelvo::rtc::web::format_log_line;
using kelvo::rtc::web::log_line_characters;

std::string format(const char* format, ...) {
    char line[log_line_characters + 1];
    std::memset(line, 'x', sizeof line);
    va_list values;
    va_start(values, format);
    format_log_line(line, format, values);
    va_end(values);
    return std::string(line, strnlen(line, sizeof line));
}

TEST(agent_log, formats_the_values) {
    EXPECT_EQ("[wa] selectDevices for cam-0, kind=videoinput",
              format("selectDevices for %s, kind=%s", "cam-0", "videoinput"));
    EXPECT_EQ("[wa] close channel for user 4294967295", format("close channel for user %u", 4294967295u));
    EXPECT_EQ("[wa] setup video channel for user -1", format("setup video channel for user %d", -1));
}

TEST(agent_log, long_lines_are_cut_to_255_characters_and_terminated) {
    const std::string id(300, 'd');
    const std::string line = format("selectDevices for %s, kind=%s", id.c_str(), "videoinput");
    ASSERT_EQ(255u, line.size());
    EXPECT_EQ("[wa] selectDevices for " + id.substr(0, 255 - 23), line);

    EXPECT_EQ(255u, format("%s", std::string(250, 'a').c_str()).size());
    EXPECT_EQ(254u, format("%s", std::string(249, 'a').c_str()).size());
}

}  // namespace
