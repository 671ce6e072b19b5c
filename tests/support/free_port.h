// Servers of a test on loopback ports of their own. A port found free may be taken by another
// program before the server binds it, so the start is tried again on another port.
//
//   const uint16_t port = start_plain_server(net);
//   ASSERT_NE(port, 0);
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "net/net_engine.h"

namespace kelvo {
namespace test {

// Calls `start` (0 for started, as the servers answer) with free loopback ports until one
// starts; the port it started on, or 0 when a few attempts failed.
uint16_t start_on_free_port(const std::function<int32_t(uint16_t port)>& start);

// A plain or TLS server added to the set on a free port: its port, or 0.
uint16_t start_plain_server(kelvo::rtc::web::net_engine& net);
uint16_t start_tls_server(kelvo::rtc::web::net_engine& net, const std::string& certificate_folder);

}  // namespace test
}  // namespace kelvo
