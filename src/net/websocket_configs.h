// Our websocketpp server configurations: the library's asio and asio_tls configurations with a
// connection base of our own (frame dropping, counting against the agent's limits) and our own
// send path and queue.
#pragma once

#include <websocketpp/config/asio.hpp>
#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/connection.hpp>

#include "net/counted_connection.h"

namespace kelvo {
namespace rtc {
namespace web {

struct plain_server_config : websocketpp::config::asio {
    typedef plain_server_config type;
    typedef counted_connection_base connection_base;
};

struct tls_server_config : websocketpp::config::asio_tls {
    typedef tls_server_config type;
    typedef counted_connection_base connection_base;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo

// Defined in websocket_server_plain.cpp and websocket_server_tls.cpp (frame_dropping_connection.h).
namespace websocketpp {
template <>
lib::error_code connection<kelvo::rtc::web::plain_server_config>::send(
    connection<kelvo::rtc::web::plain_server_config>::message_ptr msg);
template <>
size_t connection<kelvo::rtc::web::plain_server_config>::get_buffered_amount() const;
template <>
void connection<kelvo::rtc::web::plain_server_config>::write_push(
    connection<kelvo::rtc::web::plain_server_config>::message_ptr msg);
template <>
connection<kelvo::rtc::web::plain_server_config>::message_ptr
connection<kelvo::rtc::web::plain_server_config>::write_pop();
template <>
lib::error_code connection<kelvo::rtc::web::tls_server_config>::send(
    connection<kelvo::rtc::web::tls_server_config>::message_ptr msg);
template <>
size_t connection<kelvo::rtc::web::tls_server_config>::get_buffered_amount() const;
template <>
void connection<kelvo::rtc::web::tls_server_config>::write_push(
    connection<kelvo::rtc::web::tls_server_config>::message_ptr msg);
template <>
connection<kelvo::rtc::web::tls_server_config>::message_ptr
connection<kelvo::rtc::web::tls_server_config>::write_pop();
}  // namespace websocketpp
