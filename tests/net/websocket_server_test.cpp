// The servers through the set, with real clients on loopback.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include <asio.hpp>

#include "net/net_engine.h"
#include "net/server_error_log.h"
#include "support/free_port.h"
#include "support/recording_net_handler.h"
#include "support/ws_test_client.h"
#include "support/copied_group.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

using test::recording_net_handler;
using test::ws_test_client;
constexpr std::chrono::seconds wait_time(5);

// Waits until the connection has ended and checks that the server closed it this way.
void expect_closed_with(ws_test_client& client, int code, const std::string& reason) {
    auto closed = client.wait_close(wait_time);
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->code, code);
    EXPECT_EQ(closed->reason, reason);
}

class server_set_test : public ::testing::Test {
protected:
    void SetUp() override {
        engine.set_handler(&handler);
        for (uint16_t& port : ports) {
            port = test::start_plain_server(engine);
            ASSERT_NE(port, 0);
        }
    }

    recording_net_handler handler;
    net_engine engine;
    uint16_t ports[2] = {0, 0};
};

TEST_F(server_set_test, replies_carry_server_index_and_empty_reply_sends_nothing) {
    ws_test_client first;
    ws_test_client second;
    ASSERT_TRUE(first.connect("127.0.0.1", ports[0]));
    ASSERT_TRUE(second.connect("127.0.0.1", ports[1]));
    ASSERT_TRUE(first.send_text("silent"));
    ASSERT_TRUE(first.send_text("echo after"));
    EXPECT_EQ(first.wait_text(wait_time), "after");
    EXPECT_TRUE(handshake_as(second, handler, "second"));

    ASSERT_TRUE(handler.wait_calls("opened", 2));
    auto first_call = handler.message_call("echo after");
    auto second_call = handler.message_call("echo second");
    ASSERT_TRUE(first_call && second_call);
    EXPECT_EQ(first_call->server_index, 0);
    EXPECT_EQ(second_call->server_index, 1);
    EXPECT_EQ(first.text_count(), 1u);
    EXPECT_TRUE(first.is_open());
    EXPECT_EQ(engine.size(), 2u);
}

TEST_F(server_set_test, binary_message_closes_with_invalid_request_and_reports_control) {
    ws_test_client page;
    ASSERT_TRUE(page.connect("127.0.0.1", ports[0]));
    ASSERT_TRUE(handshake_as(page, handler, "page", "control"));
    ASSERT_TRUE(page.send_binary("frame"));
    expect_closed_with(page, 3000, "invalid request");
    ASSERT_TRUE(handler.wait_calls("closed", 1));
    EXPECT_EQ(handler.calls("closed")[0].state, connection_control);
    EXPECT_EQ(handler.calls("message").size(), 2u);  // "control" and "echo page" only
}

TEST_F(server_set_test, rejected_control_is_reported_at_once_and_others_stay_open) {
    ws_test_client page;
    ws_test_client other;
    ASSERT_TRUE(page.connect("127.0.0.1", ports[0]));
    ASSERT_TRUE(other.connect("127.0.0.1", ports[0]));
    ASSERT_TRUE(handshake_as(page, handler, "page", "control"));
    ASSERT_TRUE(handshake_as(other, handler, "other", "stream"));

    ASSERT_TRUE(page.send_text("reject"));
    expect_closed_with(page, 3001, "invalid request");
    ASSERT_TRUE(handler.wait_calls("closed", 1));

    // Still served, and the rejected connection was reported exactly once.
    ASSERT_TRUE(other.send_text("echo still here"));
    EXPECT_EQ(other.wait_text(wait_time), "still here");
    EXPECT_TRUE(other.is_open());
    auto calls = handler.calls("closed");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].state, connection_control);
}

TEST_F(server_set_test, control_closing_sweeps_its_own_server_only) {
    ws_test_client control;
    ws_test_client stream;
    ws_test_client fresh;
    ws_test_client elsewhere;
    ASSERT_TRUE(control.connect("127.0.0.1", ports[0]));
    ASSERT_TRUE(stream.connect("127.0.0.1", ports[0]));
    ASSERT_TRUE(fresh.connect("127.0.0.1", ports[0]));
    ASSERT_TRUE(elsewhere.connect("127.0.0.1", ports[1]));
    ASSERT_TRUE(handshake_as(control, handler, "control", "control"));
    ASSERT_TRUE(handshake_as(stream, handler, "stream", "stream"));
    ASSERT_TRUE(handshake_as(fresh, handler, "fresh"));
    ASSERT_TRUE(handshake_as(elsewhere, handler, "elsewhere", "control"));

    control.close();
    for (ws_test_client* swept : {&stream, &fresh}) {
        expect_closed_with(*swept, 3000, "going away");
    }
    ASSERT_TRUE(elsewhere.send_text("echo alive"));
    EXPECT_EQ(elsewhere.wait_text(wait_time), "alive");

    auto calls = handler.calls("closed");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].state, connection_control);
    EXPECT_EQ(calls[0].server_index, 0);
}

TEST_F(server_set_test, sends_to_gone_connection_or_missing_server_fail) {
    ws_test_client page;
    ASSERT_TRUE(page.connect("127.0.0.1", ports[0]));
    auto handle = handshake_as(page, handler, "page");
    ASSERT_TRUE(handle);
    EXPECT_EQ(engine.send_text(0, *handle, "event"), 0);
    EXPECT_EQ(page.wait_text(wait_time), "event");

    page.close();
    ASSERT_TRUE(handler.wait_calls("closed", 1));
    EXPECT_EQ(engine.send_text(0, *handle, "late"), -1);
    EXPECT_EQ(engine.send_text(0, *handle, "late"), -1);
    const char byte = 1;
    EXPECT_EQ(engine.send_binary(0, *handle, &byte, 1, nullptr), -1);
    const kelvo::test::copied_group one({std::string(1, byte)});
    int32_t dropped = 7;
    EXPECT_EQ(engine.send_binary_group(0, *handle, one.group(), &dropped), -1);

    EXPECT_EQ(engine.send_text(2, *handle, "x"), -1);
    EXPECT_EQ(engine.send_text(-1, *handle, "x"), -1);
    engine.set_frame_dropping(5, *handle, true);
    engine.clear();
    EXPECT_EQ(engine.size(), 0u);
    EXPECT_EQ(engine.send_text(0, *handle, "x"), -1);
    engine.clear();
}

TEST_F(server_set_test, port_in_use_fails_and_leaves_the_set_serving) {
    EXPECT_EQ(engine.add_plain_server(ports[0]), -1);
    EXPECT_EQ(engine.add_tls_server(ports[1], "/nonexistent"), -1);
    EXPECT_EQ(engine.size(), 2u);

    // Another program cannot bind our port, not even asking for address reuse (which on Windows
    // would share the port and hand it our connections)...
    asio::io_context io;
    asio::ip::tcp::acceptor intruder(io);
    intruder.open(asio::ip::tcp::v4());
    intruder.set_option(asio::socket_base::reuse_address(true));
    std::error_code bound;
    intruder.bind({asio::ip::address_v4::loopback(), ports[0]}, bound);
    EXPECT_TRUE(bound) << "another socket was bound to the server's port";
    // ...and a port that another program holds with a plain bind is in use for us.
    asio::ip::tcp::acceptor holder(io, {asio::ip::address_v4::loopback(), 0}, false);
    EXPECT_EQ(engine.add_plain_server(holder.local_endpoint().port()), -1);
    EXPECT_EQ(engine.size(), 2u);
    ws_test_client page;
    ASSERT_TRUE(page.connect("127.0.0.1", ports[0]));
    EXPECT_TRUE(handshake_as(page, handler, "page"));

    // The next server still gets the next index.
    const uint16_t third = test::start_plain_server(engine);
    ASSERT_NE(third, 0);
    ws_test_client late;
    ASSERT_TRUE(late.connect("127.0.0.1", third));
    auto call = handshake_as(late, handler, "late");
    ASSERT_TRUE(call);
    EXPECT_EQ(handler.message_call("echo late")->server_index, 2);
}

TEST_F(server_set_test, failed_send_on_another_thread_reports_control_on_io_thread) {
    ws_test_client page;
    ASSERT_TRUE(page.connect("127.0.0.1", ports[0]));
    auto handle = handshake_as(page, handler, "page", "control");
    ASSERT_TRUE(handle);
    const std::thread::id io_thread = handler.calls("opened")[0].thread;

    // Text that is not UTF-8 is refused by the library, so this send fails while the
    // connection is still open.
    std::thread::id sender;
    int32_t result = 0;
    std::thread engine_thread([&] {
        sender = std::this_thread::get_id();
        result = engine.send_text(0, *handle, "\xff\xfe");
    });
    engine_thread.join();
    EXPECT_EQ(result, -1);
    expect_closed_with(page, 1001, "");
    ASSERT_TRUE(handler.wait_calls("closed", 1));
    auto calls = handler.calls("closed");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].thread, io_thread);
    EXPECT_NE(calls[0].thread, sender);
    EXPECT_EQ(engine.send_text(0, *handle, "again"), -1);
}

TEST_F(server_set_test, handler_exceptions_are_reported_and_the_server_goes_on) {
    std::vector<std::string> reported;
    std::mutex reported_mutex;
    struct sink_guard {
        ~sink_guard() { set_server_error_sink(nullptr); }
    } restore_standard_error;
    set_server_error_sink([&](const std::string& line) {
        std::lock_guard<std::mutex> lock(reported_mutex);
        reported.push_back(line);
    });

    ws_test_client bystander;
    ws_test_client thrower;
    ws_test_client fragile;
    for (ws_test_client* client : {&bystander, &thrower, &fragile}) {
        ASSERT_TRUE(client->connect("127.0.0.1", ports[0]));
    }
    ASSERT_TRUE(handshake_as(bystander, handler, "bystander"));
    ASSERT_TRUE(handshake_as(fragile, handler, "fragile", "fragile"));

    // Thrown while a message is handled: that connection is closed as failed and reported.
    ASSERT_TRUE(thrower.send_text("throw"));
    expect_closed_with(thrower, 1011, "internal error");
    // Thrown by the closed handling: the server still forgets the connection.
    fragile.close();
    ASSERT_TRUE(handler.wait_calls("closed", 1));

    ASSERT_TRUE(bystander.send_text("echo still served"));
    EXPECT_EQ(bystander.wait_text(wait_time), "still served");
    ws_test_client late;
    ASSERT_TRUE(late.connect("127.0.0.1", ports[0]));
    EXPECT_TRUE(handshake_as(late, handler, "late"));

    std::lock_guard<std::mutex> lock(reported_mutex);
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[0], "server 0: message handler: thrown by the handler");
    EXPECT_EQ(reported[1],
              "server 0: connection-closed handler: thrown when a fragile connection closed");
}

TEST(server_set, connection_before_handler_gets_context_but_no_calls) {
    net_engine engine;
    const uint16_t port = test::start_plain_server(engine);
    ASSERT_NE(port, 0);
    ws_test_client early;
    ASSERT_TRUE(early.connect("127.0.0.1", port));
    ASSERT_TRUE(early.ping_round_trip());
    recording_net_handler handler;
    engine.set_handler(&handler);
    ASSERT_TRUE(early.send_text("echo seen"));
    EXPECT_EQ(early.wait_text(wait_time), "seen");
    EXPECT_TRUE(handler.calls("opened").empty());
    EXPECT_EQ(handler.calls("message").size(), 1u);
    early.close();
    ASSERT_TRUE(handler.wait_calls("closed", 1));
    engine.clear();  // before the handler, declared later, goes away
}

}  // namespace
}  // namespace web
}  // namespace rtc
}  // namespace kelvo
