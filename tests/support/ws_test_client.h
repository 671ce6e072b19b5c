// A small synchronous WebSocket client for tests, over websocketpp's client (plain or TLS, with
// certificate verification off). It runs its own I/O thread; every call waits for its result.
//
//   kelvo::test::ws_test_client client;                  // or ws_test_client client(true) for TLS
//   ASSERT_TRUE(client.connect("127.0.0.1", port));      // Host header "127.0.0.1:<port>"
//   client.send_text("{\"command\":\"initialize\"}");
//   std::optional<std::string> reply = client.wait_text(std::chrono::seconds(5));
//   client.pause_reading();   // the client stops reading its socket (a page that falls behind)
//   client.resume_reading();
//   std::optional<kelvo::test::close_info> closed = client.wait_close(std::chrono::seconds(5));
//
// connect always opens a TCP connection to 127.0.0.1:port; `host` is only what the handshake's
// Host header names, so names that resolve nowhere (or to another address) can be tried too.
// For handshakes that are expected to be refused, and for the headers of the answer,
// http_upgrade reads the raw answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "support/wait_limit.h"

// OpenSSL's SSL_SESSION.
struct ssl_session_st;

namespace kelvo {
namespace test {

struct close_info {
    // The close code the peer sent; 1006 when the connection ended without a close frame.
    int code = 0;
    std::string reason;
};

class ws_test_client {
public:
    explicit ws_test_client(bool tls = false);
    ~ws_test_client();
    ws_test_client(const ws_test_client&) = delete;
    ws_test_client& operator=(const ws_test_client&) = delete;

    // Opens a connection to 127.0.0.1:port with the Host header "<host>:<port>". True once the
    // WebSocket handshake has completed; false when it failed or timed out. One connection per
    // client object.
    bool connect(const std::string& host, uint16_t port,
                 std::chrono::milliseconds timeout = agent_timeout);
    // The Origin header of the next connect's handshake, as a page's browser sends it (none by
    // default, as a local program).
    void set_origin(const std::string& origin);

    // False when the connection is not open.
    bool send_text(const std::string& text);
    bool send_binary(const std::string& data);
    // Starts the closing handshake from the client side.
    void close(int code = 1000, const std::string& reason = std::string());
    // Sends a ping and waits for its pong: once it is back, the server has finished opening the
    // connection (its open handler runs before it reads the first frame).
    bool ping_round_trip(std::chrono::milliseconds timeout = agent_timeout);

    // The oldest received message of that kind not taken yet, waiting up to `timeout`.
    std::optional<std::string> wait_text(std::chrono::milliseconds timeout);
    std::optional<std::string> wait_binary(std::chrono::milliseconds timeout);
    // Waits until the connection has ended (closed or failed) and tells how.
    std::optional<close_info> wait_close(std::chrono::milliseconds timeout);

    bool is_open() const;
    // Counts of messages received so far (taken or not).
    size_t text_count() const;
    size_t binary_count() const;
    uint64_t binary_bytes() const;

    // Stops the client's I/O thread, so nothing is read from the socket (and nothing sent) until
    // resume_reading. The server's writes pile up in the socket buffers and then in its queue.
    void pause_reading();
    void resume_reading();

    struct impl;

private:
    std::unique_ptr<impl> impl_;
};

// A loopback TCP port that was free a moment ago (bound to port 0 and released).
uint16_t free_loopback_port();

// A TLS session kept from one connection to offer for resumption on the next; empty until a
// connection has filled it.
using tls_session = std::shared_ptr<::ssl_session_st>;

struct http_answer {
    // The HTTP status code (101 when the upgrade was accepted); -1 when no status line arrived.
    int status = -1;
    // The status line and the headers.
    std::string head;
    // TLS: the handshake resumed the session that was offered.
    bool resumed = false;
};

// The WebSocket upgrade request http_upgrade sends, with the given Host header text.
std::string upgrade_request(const std::string& host_header);

// Sends a WebSocket upgrade request with the given Host header text (sent as it stands) to
// 127.0.0.1:port, over TLS when asked, and reads the answer's head. With `session` (TLS) the
// session it holds is offered, and the connection's own session is kept in it afterwards. With
// `trusted_pem` (TLS) the client verifies the server as a browser does, trusting that
// certificate alone: the handshake fails unless the server's certificate is valid, for TLS
// servers, issued by it, and names the Host header's host (without its port).
http_answer http_upgrade(uint16_t port, const std::string& host_header, bool tls = false,
                         tls_session* session = nullptr,
                         std::chrono::milliseconds timeout = agent_timeout,
                         const std::string& trusted_pem = std::string());

// The status of http_upgrade's answer.
int http_upgrade_status(uint16_t port, const std::string& host_header, bool tls = false,
                        std::chrono::milliseconds timeout = agent_timeout);

}  // namespace test
}  // namespace kelvo
