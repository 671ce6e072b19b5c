// Who may open a connection: the Host rule on both servers and the TLS set-up of the TLS server.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>
#include <openssl/ssl.h>

#include "net/host_validation.h"
#include "net/net_engine.h"
#include "net/tls_context.h"
#include "platform/peer_user.h"
#include "support/certificate_pair.h"
#include "support/free_port.h"
#include "support/recording_net_handler.h"
#include "support/temporary_folder.h"
#include "support/ws_test_client.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

using test::recording_net_handler;
using test::ws_test_client;

// The two profiles: the strict one refuses TLS 1.0 and the ciphers without forward secrecy that
// the compatible one still offers to old clients.
TEST(tls_profiles, the_strict_profile_refuses_what_the_compatible_one_allows) {
    const auto cipher_names = [](SSL_CTX* context) {
        std::string names;
        STACK_OF(SSL_CIPHER)* ciphers = SSL_CTX_get_ciphers(context);
        for (int i = 0; i < sk_SSL_CIPHER_num(ciphers); ++i) {
            names += std::string(":") + SSL_CIPHER_get_name(sk_SSL_CIPHER_value(ciphers, i)) + ":";
        }
        return names;
    };
    const auto compatible = make_tls_context(tls_mode::compatible, "/nonexistent");
    const auto strict = make_tls_context(tls_mode::strict, "/nonexistent");
    EXPECT_EQ(SSL_CTX_get_options(compatible->native_handle()) & SSL_OP_NO_TLSv1, 0u);
    EXPECT_NE(SSL_CTX_get_options(strict->native_handle()) & SSL_OP_NO_TLSv1, 0u);
    EXPECT_NE(cipher_names(compatible->native_handle()).find(":AES128-SHA:"), std::string::npos);
    EXPECT_EQ(cipher_names(strict->native_handle()).find(":AES128-SHA:"), std::string::npos);
    EXPECT_NE(cipher_names(strict->native_handle()).find(":ECDHE-RSA-AES128-GCM-SHA256:"),
              std::string::npos);
}

TEST(host_validation, accepts_only_the_loopback_address_and_our_name) {
    recording_net_handler handler;
    net_engine engine;
    engine.set_handler(&handler);
    const uint16_t port = test::start_plain_server(engine);
    ASSERT_NE(port, 0);
    const std::string with_port = ":" + std::to_string(port);

    EXPECT_EQ(test::http_upgrade_status(port, "127.0.0.1" + with_port), 101);
    EXPECT_EQ(test::http_upgrade_status(port, "127.0.0.1"), 101);
    EXPECT_EQ(test::http_upgrade_status(port, std::string(loopback_host_name) + with_port), 101);
    for (const std::string refused :
         {"localhost", "127.0.0.2", "[::1]", "127.0.0.1.", "127.0.0.1x", "x127.0.0.1",
          "AGENT.KELVO.LOCALHOST", "agent.kelvo.localhost."}) {
        EXPECT_EQ(test::http_upgrade_status(port, refused + with_port), 401) << refused;
    }
    EXPECT_EQ(test::http_upgrade_status(port, "127.0.0.1x"), 401);

    // A full client naming our host name is served; refused handshakes never reached the handler.
    ws_test_client named;
    ASSERT_TRUE(named.connect(loopback_host_name, port));
    EXPECT_TRUE(handshake_as(named, handler, "named"));
    EXPECT_TRUE(handler.wait_calls("opened", 4));
    EXPECT_EQ(handler.calls("opened").size(), 4u);

    // Accepted or refused, the answer names our agent, not the library under it.
    for (const std::string host : {"127.0.0.1", "localhost"}) {
        const std::string head = test::http_upgrade(port, host).head;
        EXPECT_NE(head.find("\r\nServer: Kelvo Web Agent\r\n"), std::string::npos) << head;
        EXPECT_EQ(head.find("WebSocket++"), std::string::npos) << head;
    }
}

// The owner of a connection's other end is found by its whole address among established
// connections: a listening socket, or a connection that shares only a port with it, never
// answers for it (the port of another address on the loopback network is anybody's to bind).
TEST(peer_user, the_other_end_is_found_by_both_addresses_and_both_ports) {
    asio::io_context io;
    asio::ip::tcp::acceptor listening(io, {asio::ip::address_v4::loopback(), 0});
    asio::ip::tcp::socket client(io);
    client.connect(listening.local_endpoint());
    asio::ip::tcp::socket accepted = listening.accept();
    // A client sends at once, as a page does with its handshake (Wine lists a connection's owner
    // only once it has been used).
    char byte = 'x';
    client.send(asio::buffer(&byte, 1));
    accepted.receive(asio::buffer(&byte, 1));
    const uint16_t listening_port = listening.local_endpoint().port();
    const tcp_end server{loopback_address, accepted.local_endpoint().port()};
    const tcp_end peer{loopback_address, client.local_endpoint().port()};
    EXPECT_EQ(platform_peer_owner(server, peer), peer_owner::own_user);
    EXPECT_NE(platform_peer_owner(server, {loopback_address + 1, peer.port}), peer_owner::own_user);
    EXPECT_NE(platform_peer_owner({loopback_address + 1, server.port}, peer), peer_owner::own_user);
    EXPECT_NE(platform_peer_owner(server, {loopback_address, listening_port}),
              peer_owner::own_user);
}

// A client slow to send its first bytes is served once it does: a system may list its end with its
// owner only once it has used it (Wine does), so the owner is asked again then.
TEST(peer_user, a_client_slow_to_send_its_first_bytes_is_served) {
    recording_net_handler handler;
    net_engine engine;
    engine.set_handler(&handler);
    const uint16_t port = test::start_plain_server(engine);
    ASSERT_NE(port, 0);
    asio::io_context io;
    asio::ip::tcp::socket client(io);
    client.connect({asio::ip::address_v4::loopback(), port});
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    asio::write(client, asio::buffer(test::upgrade_request("127.0.0.1")));
    std::string status(12, '\0');
    std::error_code error;
    asio::read(client, asio::buffer(&status[0], status.size()), error);
    EXPECT_EQ(status, "HTTP/1.1 101");
}

// A directory of its own for certificate files, removed afterwards.
class certificate_dir {
public:
    const std::string& path() const { return folder_.path(); }

    // Writes a fresh self-signed pair; the key into `key_name`.
    void generate(const std::string& key_name = "kelvo_key.pem") const {
        ASSERT_TRUE(test::write_certificate_pair(path(), key_name));
    }

private:
    test::temporary_folder folder_;
};

class tls_server_test : public ::testing::Test {
protected:
    void SetUp() override {
        engine.set_handler(&handler);
        tls_port = test::start_tls_server(engine, certs.path());
        ASSERT_NE(tls_port, 0);
        plain_port = test::start_plain_server(engine);
        ASSERT_NE(plain_port, 0);
    }

    bool tls_connects(const std::string& name) {
        ws_test_client client(true);
        return client.connect("127.0.0.1", tls_port) &&
               handshake_as(client, handler, name).has_value();
    }

    certificate_dir certs;
    recording_net_handler handler;
    net_engine engine;
    uint16_t tls_port = 0;
    uint16_t plain_port = 0;
};

TEST_F(tls_server_test, reads_the_files_for_every_connection) {
    // No files yet: the handshake fails, both servers go on.
    EXPECT_FALSE(tls_connects("without"));
    ws_test_client plain;
    ASSERT_TRUE(plain.connect("127.0.0.1", plain_port));
    ASSERT_TRUE(handshake_as(plain, handler, "plain"));

    certs.generate();
    EXPECT_TRUE(tls_connects("with"));
    auto tls_call = handler.message_call("echo with");
    auto plain_call = handler.message_call("echo plain");
    ASSERT_TRUE(tls_call && plain_call);
    EXPECT_EQ(tls_call->server_index, 0);
    EXPECT_EQ(plain_call->server_index, 1);
    EXPECT_EQ(test::http_upgrade_status(tls_port, "localhost", true), 401);
    EXPECT_EQ(test::http_upgrade_status(tls_port, "127.0.0.1", true), 101);

    // A key that does not belong to the chain: refused again on the next connection.
    certs.generate("other_key.pem");
    EXPECT_FALSE(tls_connects("mismatched"));
    certs.generate();
    EXPECT_TRUE(tls_connects("replaced"));
    EXPECT_TRUE(plain.is_open());
}

TEST_F(tls_server_test, connections_share_one_context_so_sessions_resume) {
    certs.generate();
    test::tls_session session;
    const test::http_answer first = test::http_upgrade(tls_port, "127.0.0.1", true, &session);
    ASSERT_EQ(first.status, 101);
    ASSERT_TRUE(session);
    EXPECT_FALSE(first.resumed);
    const test::http_answer second = test::http_upgrade(tls_port, "127.0.0.1", true, &session);
    EXPECT_EQ(second.status, 101);
    EXPECT_TRUE(second.resumed);

    // New files: a full handshake with the new pair; its session resumes in turn.
    certs.generate();
    EXPECT_TRUE(tls_connects("replaced"));
    test::tls_session renewed;
    ASSERT_EQ(test::http_upgrade(tls_port, "127.0.0.1", true, &renewed).status, 101);
    EXPECT_TRUE(test::http_upgrade(tls_port, "127.0.0.1", true, &renewed).resumed);
}

}  // namespace
}  // namespace web
}  // namespace rtc
}  // namespace kelvo
