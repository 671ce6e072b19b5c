#include "app/server_ports.h"

#include <cerrno>
#include <cstdlib>

namespace kelvo {
namespace rtc {
namespace web {

namespace {

uint16_t portFromEnvironment(const char* name, uint16_t fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || value == 0 || value > 65535) return fallback;
    return static_cast<uint16_t>(value);
}

}  // namespace

server_ports configured_server_ports() {
    server_ports ports;
    ports.tls = portFromEnvironment("KELVO_AGENT_TLS_PORT", ports.tls);
    ports.plain = portFromEnvironment("KELVO_AGENT_PLAIN_PORT", ports.plain);
    return ports;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
