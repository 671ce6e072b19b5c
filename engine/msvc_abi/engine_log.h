// The engine's record of what it saw, one line per call, in the stand-in engine's words
// ("call joinChannel key room ZuzIrave 0"), appended to the file that RIZUDADA_LOG names when the
// engine is made: a test reads it back to see that every call the agent made arrived with its
// arguments intact.
#pragma once

#include <cstdint>

namespace kelvo {
namespace rtc {
namespace msvc_abi {

// Reads RIZUDADA_LOG; until then, and without it, lines go nowhere.
void open_engine_log();

// One line, its items separated by single blanks; longer lines are cut.
class log_line {
public:
    explicit log_line(const char* first) { text(first); }
    // A null text is written as an empty one; line breaks become blanks.
    log_line& text(const char* value);
    log_line& number(uint32_t value);
    log_line& signed_number(int32_t value);
    log_line& boolean(bool value) { return text(value ? "true" : "false"); }
    // A number right after the item before, without a blank ("L" then 4 is "L4").
    log_line& attached_number(int32_t value);
    // Appends the line to the log.
    void write();

private:
    void put(char c);
    void separate();
    void digits(uint32_t value);

    char text_[1024] = {};
    int length_ = 0;
    bool first_ = true;
};

}  // namespace msvc_abi
}  // namespace rtc
}  // namespace kelvo
