// The library's ordinary server (config::asio) on a loopback port, run on a thread of its own: the
// baseline the benchmarks measure our server against.
#pragma once

#include <cstdint>
#include <thread>

#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/server.hpp>

class loopback_library_server {
public:
    using server_type = websocketpp::server<websocketpp::config::asio>;

    // `set_handlers(server)` installs the benchmark's handlers before the server listens.
    template <typename handler_setup>
    loopback_library_server(uint16_t port, handler_setup set_handlers) {
        server_.clear_access_channels(websocketpp::log::alevel::all);
        server_.clear_error_channels(websocketpp::log::elevel::all);
        server_.init_asio();
        server_.set_reuse_addr(true);
        set_handlers(server_);
        server_.listen(asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), port));
        server_.start_accept();
        thread_ = std::thread([this] { server_.run(); });
    }
    ~loopback_library_server() {
        server_.stop();
        thread_.join();
    }
    loopback_library_server(const loopback_library_server&) = delete;
    loopback_library_server& operator=(const loopback_library_server&) = delete;

    server_type& server() { return server_; }

private:
    server_type server_;
    std::thread thread_;
};
