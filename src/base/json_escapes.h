// Lenient string escapes: what the page may send that the tree library would refuse or cut short.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// Rewrites, inside JSON strings only, the escapes that are accepted leniently: a \u0000 escape and an
// unpaired UTF-16 surrogate escape are dropped, and an unknown escape such as \q stands for the
// character itself. A malformed \u escape is turned into one the library refuses, so the text
// stays invalid. Returns false and leaves `rewritten` untouched when the text needs no change.
bool rewriteLenientEscapes(const char* text, std::string& rewritten);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
