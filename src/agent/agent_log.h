// Formatting of the agent's diagnostic lines.
#pragma once

#include <cstdarg>

namespace kelvo {
namespace rtc {
namespace web {

// Longest line handed to the engine, in characters; the buffer adds its terminator.
constexpr int log_line_characters = 255;

// Every line the agent writes begins with this.
constexpr const char log_line_prefix[] = "[wa] ";

// Formats the prefix and a printf-style text into `line`, cut to its first 255 characters and
// always terminated (an encoding error leaves the prefix alone).
void format_log_line(char (&line)[log_line_characters + 1], const char* format, va_list values);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
