#include "support/free_port.h"

#include "support/ws_test_client.h"

namespace kelvo {
namespace test {

uint16_t start_on_free_port(const std::function<int32_t(uint16_t port)>& start) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        const uint16_t port = free_loopback_port();
        if (start(port) == 0) return port;
    }
    return 0;
}

uint16_t start_plain_server(kelvo::rtc::web::net_engine& net) {
    return start_on_free_port([&](uint16_t port) { return net.add_plain_server(port); });
}

uint16_t start_tls_server(kelvo::rtc::web::net_engine& net, const std::string& certificate_folder) {
    return start_on_free_port(
        [&](uint16_t port) { return net.add_tls_server(port, certificate_folder); });
}

}  // namespace test
}  // namespace kelvo
