// Shortening UTF-8 text without splitting a character.
#pragma once

#include <cstddef>
#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// The longest prefix of `text` of at most `max_bytes` bytes that ends on a character boundary.
std::string utf8_prefix(const std::string& text, size_t max_bytes);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
