// Makes the two kinds of server without exposing the WebSocket library to the caller.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/websocket_server.h"

namespace kelvo {
namespace rtc {
namespace web {

std::unique_ptr<websocket_server> make_plain_server(int32_t server_index);
// Reads "<cert_dir>/kelvo_cert_chain.pem" and "<cert_dir>/kelvo_key.pem" for every connection.
std::unique_ptr<websocket_server> make_tls_server(int32_t server_index, const std::string& cert_dir);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
