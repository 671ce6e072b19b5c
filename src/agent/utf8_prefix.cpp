#include "agent/utf8_prefix.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

bool is_continuation_byte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

}  // namespace

std::string utf8_prefix(const std::string& text, size_t max_bytes) {
    if (text.size() <= max_bytes) return text;
    size_t end = max_bytes;
    // The byte at `end` is the first one left out; step back while it continues a character.
    while (end > 0 && is_continuation_byte(text[end])) --end;
    return text.substr(0, end);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
