// Makes the two kinds of server without exposing the WebSocket library to the caller.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/connection_limits.h"
#include "net/websocket_server.h"

namespace kelvo {
namespace rtc {
namespace web {

// `limits`: shared by the servers of one agent.
std::unique_ptr<websocket_server> make_plain_server(int32_t server_index,
                                                   std::shared_ptr<shared_limits> limits);
// Presents "<cert_dir>/kelvo_cert_chain.pem" and "<cert_dir>/kelvo_key.pem" (`cert_dir` in UTF-8)
// as they are at each handshake (see tls_context.h).
std::unique_ptr<websocket_server> make_tls_server(int32_t server_index, const std::string& cert_dir,
                                                 std::shared_ptr<shared_limits> limits);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
