// The origin of a page, as the handshake's Origin header names it.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// The origin in one spelling: scheme, host and port in lower case, the scheme's default port
// dropped ("HTTP://Example.COM:80" → "http://example.com"); "null" stays "null". Empty when the
// text is not an origin (a path, a query, user information, no scheme or no host).
std::string normalize_origin(const std::string& origin);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
