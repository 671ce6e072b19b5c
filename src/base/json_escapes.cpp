#include "base/json_escapes.h"

#include <cstring>
#include <utility>

namespace kelvo {
namespace rtc {
namespace web {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The code unit of the four hexadecimal digits at `p`, or -1; never reads past a NUL.
int hexCodeUnit(const char* p) {
    int value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hexDigit(p[i]);
        if (digit < 0) return -1;
        value = value * 16 + digit;
    }
    return value;
}

bool isHighSurrogate(int unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(int unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// What becomes of one escape: its length and, unless it is kept as it stands, its replacement.
struct escape_rewrite {
    size_t length;
    bool kept;
    std::string replacement;
};

// A \u escape at `p`.
escape_rewrite unicodeEscape(const char* p) {
    const int unit = hexCodeUnit(p + 2);
    // The library would read a malformed escape as NUL and cut the string short; an escape it
    // refuses makes the text invalid instead, as it is.
    if (unit < 0) return {2, false, "\\x"};
    if (isHighSurrogate(unit)) {
        if (p[6] == '\\' && p[7] == 'u' && isLowSurrogate(hexCodeUnit(p + 8))) return {12, true, ""};
        return {6, false, ""};
    }
    if (unit == 0 || isLowSurrogate(unit)) return {6, false, ""};
    return {6, true, ""};
}

// The escape at `p`, a backslash inside a string that is followed by one more character at least.
escape_rewrite escapeAt(const char* p) {
    const char escaped = p[1];
    if (std::strchr("\"\\/bfnrt", escaped) != nullptr) return {2, true, ""};
    if (escaped == 'u') return unicodeEscape(p);
    return {2, false, std::string(1, escaped)};
}

}  // namespace

bool rewriteLenientEscapes(const char* text, std::string& rewritten) {
    std::string out;
    bool changed = false;
    bool inString = false;
    const char* pending = text;  // start of the bytes not yet copied to `out`
    const char* p = text;
    while (*p != '\0') {
        if (*p == '"') inString = !inString;
        if (!inString || *p != '\\') {
            ++p;
            continue;
        }
        if (p[1] == '\0') break;  // the parser refuses the unfinished string
        const escape_rewrite rewrite = escapeAt(p);
        if (!rewrite.kept) {
            out.append(pending, p);
            out.append(rewrite.replacement);
            changed = true;
            pending = p + rewrite.length;
        }
        p += rewrite.length;
    }
    if (!changed) return false;
    out.append(pending);
    rewritten = std::move(out);
    return true;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
