// Many threads sending through the set while connections close and the set is cleared.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "net/net_engine.h"
#include "support/free_port.h"
#include "support/recording_net_handler.h"
#include "support/ws_test_client.h"
#include "support/copied_group.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

using test::net_handler_call;
using test::recording_net_handler;
using test::ws_test_client;

struct target {
    int32_t server;
    connection_handle handle;
};

TEST(concurrent_send, senders_race_closing_connections_and_clear) {
    recording_net_handler handler;
    net_engine engine;
    engine.set_handler(&handler);
    uint16_t ports[2];
    for (uint16_t& port : ports) {
        port = test::start_plain_server(engine);
        ASSERT_NE(port, 0);
    }

    constexpr int per_server = 4;
    std::vector<std::unique_ptr<ws_test_client>> clients;
    std::vector<target> targets;
    for (int server = 0; server < 2; ++server) {
        for (int i = 0; i < per_server; ++i) {
            clients.push_back(std::make_unique<ws_test_client>());
            ASSERT_TRUE(clients.back()->connect("127.0.0.1", ports[server]));
            const std::string name = std::to_string(server) + "-" + std::to_string(i);
            // The first connection of each server is its control connection.
            auto handle = handshake_as(*clients.back(), handler, name, i == 0 ? "control" : "stream");
            ASSERT_TRUE(handle);
            targets.push_back(target{server, *handle});
            engine.set_frame_dropping(server, *handle, true);
        }
    }

    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t) {
        senders.emplace_back([&, t] {
            const std::string piece(2000 + t, 'p');
            const kelvo::test::copied_group frame({piece, piece, piece, piece});
            // Paced, and with frame dropping on, so the readers keep up and the close frames
            // are not queued behind a long backlog.
            for (unsigned round = 0; !stop.load(); ++round) {
                for (const target& each : targets) {
                    int32_t dropped = 0;
                    failures += engine.send_binary_group(each.server, each.handle, frame.group(),
                                                         &dropped) != 0;
                    if (round % 8 == static_cast<unsigned>(t)) {
                        failures += engine.send_text(each.server, each.handle, "event") != 0;
                    }
                    engine.set_frame_dropping(each.server, each.handle, true);
                }
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
    }

    // Stream connections of server 0 leave one by one, then its control connection sweeps the
    // rest; server 1's control connection is rejected while its streams stay.
    clients[1]->close();
    clients[2]->close();
    EXPECT_TRUE(clients[1]->wait_close(test::agent_timeout));
    clients[0]->close();
    EXPECT_TRUE(clients[3]->wait_close(test::agent_timeout));
    ASSERT_TRUE(clients[per_server]->send_text("reject"));
    EXPECT_TRUE(clients[per_server]->wait_close(test::agent_timeout));
    EXPECT_TRUE(clients[per_server + 1]->is_open());

    engine.clear();
    EXPECT_EQ(engine.send_text(1, targets[per_server + 1].handle, "after"), -1);
    stop.store(true);
    for (std::thread& sender : senders) {
        sender.join();
    }
    EXPECT_GT(failures.load(), 0);
    // Each control connection was reported closed exactly once.
    size_t control_closed = 0;
    for (const net_handler_call& call : handler.calls("closed")) {
        control_closed += call.state == connection_control;
    }
    EXPECT_EQ(control_closed, 2u);
}

}  // namespace
}  // namespace web
}  // namespace rtc
}  // namespace kelvo
