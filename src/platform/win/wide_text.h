// UTF-8 inside the program, UTF-16 at the wide Windows interfaces.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// Empty for empty or malformed input.
std::wstring wide_from_utf8(const std::string& utf8);
std::string utf8_from_wide(const wchar_t* text, int length);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
