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

}  // namespace

bool rewriteLenientEscapes(const char* text, std::string& rewritten) {
    std::string out;
    bool changed = false;
    bool inString = false;
    const char* pending = text;  // start of the bytes not yet copied to `out`
    const char* p = text;
    while (*p != '\0') {
        const char c = *p;
        if (c == '"') {
            inString = !inString;
            ++p;
            continue;
        }
        if (!inString || c != '\\') {
            ++p;
            continue;
        }
        const char escaped = p[1];
        if (escaped == '\0') break;  // the parser refuses the unfinished string
        if (std::strchr("\"\\/bfnrt", escaped) != nullptr) {
            p += 2;
            continue;
        }
        if (escaped == 'u') {
            const int unit = hexCodeUnit(p + 2);
            if (unit < 0) {
                // The library would read a malformed escape as NUL and cut the string short;
                // an escape it refuses makes the text invalid instead, as it is.
                out.append(pending, p);
                out.append("\\x");
                changed = true;
                p += 2;
                pending = p;
                continue;
            }
            bool drop = unit == 0 || isLowSurrogate(unit);
            if (isHighSurrogate(unit)) {
                const bool paired = p[6] == '\\' && p[7] == 'u' && isLowSurrogate(hexCodeUnit(p + 8));
                if (paired) {
                    p += 12;
                    continue;
                }
                drop = true;
            }
            if (drop) {
                out.append(pending, p);
                changed = true;
                pending = p + 6;
            }
            p += 6;
            continue;
        }
        out.append(pending, p);
        out.push_back(escaped);
        changed = true;
        p += 2;
        pending = p;
    }
    if (!changed) return false;
    out.append(pending);
    rewritten = std::move(out);
    return true;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
