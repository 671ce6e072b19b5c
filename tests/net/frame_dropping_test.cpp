// Frame dropping on a connection whose page has stopped reading.
//
// A paused client and a first message far larger than the loopback socket buffers keep the
// server's first write in progress, so every later message waits in the connection's queue,
// where the drop rules can be watched exactly.
#include <gtest/gtest.h>

#include "net/websocket_server_impl.h"
#include "support/free_port.h"
#include "support/recording_net_handler.h"
#include "support/ws_test_client.h"
#include "support/copied_group.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

using test::ws_test_client;
constexpr std::chrono::seconds wait_time(10);
constexpr size_t blocker_size = 24 * 1000 * 1000;
constexpr size_t piece_size = 1000;

// A message whose bytes are all `tag`, so the reader can tell which ones arrived.
std::string tagged(char tag, size_t size = piece_size) { return std::string(size, tag); }

class frame_dropping_test : public ::testing::Test {
protected:
    void SetUp() override {
        server.set_handler(&handler);
        const uint16_t port = test::start_on_free_port([&](uint16_t p) { return server.start(p); });
        ASSERT_NE(port, 0);
        ASSERT_TRUE(client.connect("127.0.0.1", port));
        auto found = handshake_as(client, handler, "page", "stream");
        ASSERT_TRUE(found);
        handle = *found;
        server.set_frame_dropping(handle, true);
        client.pause_reading();
        const std::string blocker = tagged('B', blocker_size);
        ASSERT_EQ(server.send_binary(handle, blocker.data(), blocker.size(), nullptr), 0);
        // Once the blocker has been handed to the socket nothing more is queued.
        const auto deadline = std::chrono::steady_clock::now() + wait_time;
        while (server.queued_bytes(handle) != 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        ASSERT_EQ(server.queued_bytes(handle), 0u);
    }

    void send(char tag, int32_t* group) {
        const std::string message = tagged(tag);
        ASSERT_EQ(server.send_binary(handle, message.data(), message.size(), group), 0);
    }

    // Resumes reading and returns the tags of the messages after the blocker.
    std::string received_tags(size_t count) {
        client.resume_reading();
        auto blocker = client.wait_binary(wait_time);
        EXPECT_TRUE(blocker && blocker->size() == blocker_size);
        std::string tags;
        for (size_t i = 0; i < count; ++i) {
            auto message = client.wait_binary(wait_time);
            if (!message) {
                break;
            }
            EXPECT_EQ(*message, tagged(message->front(), message->size()));
            tags += message->front();
        }
        return tags;
    }

    test::recording_net_handler handler;
    websocket_server_impl<plain_server_config> server{0, std::string()};
    ws_test_client client;
    connection_handle handle;
};

TEST_F(frame_dropping_test, removes_whole_groups_of_the_oldest_waiting_messages) {
    for (char tag = 'a'; tag < 'a' + 9; ++tag) {
        send(tag, nullptr);
    }
    EXPECT_EQ(server.queued_bytes(handle), 9 * piece_size);

    int32_t group = 4;
    send('J', &group);
    EXPECT_EQ(group, 8);
    EXPECT_EQ(server.queued_bytes(handle), 2 * piece_size);

    group = 4;
    send('K', &group);  // 2 waiting: fewer than a group
    EXPECT_EQ(group, 0);
    send('L', nullptr);

    server.set_frame_dropping(handle, false);
    group = 2;
    send('M', &group);  // 4 waiting, but dropping is off
    EXPECT_EQ(group, 2);
    EXPECT_EQ(server.queued_bytes(handle), 5 * piece_size);

    EXPECT_EQ(received_tags(5), "iJKLM");
    EXPECT_TRUE(client.is_open());
}

TEST_F(frame_dropping_test, paused_reader_keeps_only_the_newest_whole_frame) {
    int32_t dropped_total = 0;
    for (int frame = 0; frame < 50; ++frame) {
        std::vector<std::string> pieces;
        for (int i = 0; i < 4; ++i) {
            pieces.push_back(tagged(static_cast<char>('A' + frame % 26), piece_size * (i + 1)));
        }
        const kelvo::test::copied_group frame_pieces(pieces);
        int32_t dropped = -1;
        ASSERT_EQ(server.send_binary_group(handle, frame_pieces.group(), &dropped), 0);
        EXPECT_EQ(dropped, frame == 0 ? 0 : 4) << frame;
        dropped_total += dropped;
        EXPECT_EQ(server.queued_bytes(handle), 10 * piece_size + (frame > 47 ? 6 : 0));
        if (frame == 47) {
            // A text message waiting among the frames is never dropped.
            ASSERT_EQ(server.send_text(handle, "marker"), 0);
        }
    }
    EXPECT_EQ(dropped_total, 49 * 4);
    EXPECT_EQ(received_tags(4), std::string(4, 'A' + 49 % 26));
    EXPECT_EQ(client.wait_text(wait_time), "marker");
}

TEST_F(frame_dropping_test, group_counts_are_reported_zero_with_dropping_off) {
    server.set_frame_dropping(handle, false);
    const std::string piece = tagged('x');
    const kelvo::test::copied_group pieces({piece, piece, piece, piece});
    for (int frame = 0; frame < 3; ++frame) {
        int32_t dropped = -1;
        ASSERT_EQ(server.send_binary_group(handle, pieces.group(), &dropped), 0);
        EXPECT_EQ(dropped, 0);
    }
    EXPECT_EQ(server.queued_bytes(handle), 12 * piece_size);
    EXPECT_EQ(received_tags(12), std::string(12, 'x'));
}

}  // namespace
}  // namespace web
}  // namespace rtc
}  // namespace kelvo
