#include "access/origin.h"

#include <cstdlib>

namespace kelvo {
namespace rtc {
namespace web {

namespace {

struct origin_parts {
    std::string scheme;
    std::string host;
    std::string port;
};

// Only ASCII letters fold: an origin is ASCII (browsers send host names in punycode), so any
// other byte makes the text no origin anyway.
std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool isLetter(char c) { return c >= 'a' && c <= 'z'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f'); }

bool isScheme(const std::string& text) {
    if (text.empty() || !isLetter(text[0])) return false;
    for (char c : text) {
        if (!isLetter(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

// Letters, digits, '-', '.' and '_': everything else ('/', '?', '#', '@', '%', blanks, bytes
// beyond ASCII) belongs to a path, a query, a fragment or user information, or is not a host.
bool isHostName(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (!isLetter(c) && !isDigit(c) && c != '-' && c != '.' && c != '_') return false;
    }
    return true;
}

// "[" hex digits, ':' and '.' (an IPv4 tail) "]", with at least one ':'; no zone.
bool isIpv6Literal(const std::string& text) {
    if (text.size() < 4 || text.front() != '[' || text.back() != ']') return false;
    bool colon = false;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        colon = colon || text[i] == ':';
        if (!isHex(text[i]) && text[i] != ':' && text[i] != '.') return false;
    }
    return colon;
}

// The port's digits without leading zeros; false for no digits, other characters or a number
// beyond 65535.
bool canonicalPort(const std::string& digits, std::string& port) {
    if (digits.empty() || digits.size() > 5) return false;
    for (char c : digits) {
        if (!isDigit(c)) return false;
    }
    const long value = std::strtol(digits.c_str(), nullptr, 10);
    if (value > 65535) return false;
    port = std::to_string(value);
    return true;
}

// "host", "host:port", "[v6]" or "[v6]:port".
bool splitAuthority(const std::string& authority, origin_parts& parts) {
    // Without a closing ']' the host ends at 0: empty, so no host.
    const bool bracketed = authority.front() == '[';
    const size_t host_end = bracketed ? authority.find(']') + 1 : authority.find(':');
    parts.host = authority.substr(0, host_end);
    if (!isHostName(parts.host) && !isIpv6Literal(parts.host)) return false;
    if (host_end >= authority.size()) return true;
    return authority[host_end] == ':' && canonicalPort(authority.substr(host_end + 1), parts.port);
}

const char* defaultPort(const std::string& scheme) {
    if (scheme == "http" || scheme == "ws") return "80";
    if (scheme == "https" || scheme == "wss") return "443";
    return "";
}

}  // namespace

std::string normalize_origin(const std::string& origin) {
    const std::string text = lowerAscii(origin);
    if (text == "null") return text;
    const size_t separator = text.find("://");
    if (separator == std::string::npos) return std::string();
    origin_parts parts;
    parts.scheme = text.substr(0, separator);
    std::string authority = text.substr(separator + 3);
    // A lone "/" is the empty path as an address bar shows it ("https://example.com/").
    if (!authority.empty() && authority.back() == '/') authority.pop_back();
    if (!isScheme(parts.scheme) || authority.empty() || !splitAuthority(authority, parts)) {
        return std::string();
    }
    if (parts.port == defaultPort(parts.scheme)) parts.port.clear();
    return parts.scheme + "://" + parts.host + (parts.port.empty() ? "" : ":" + parts.port);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
