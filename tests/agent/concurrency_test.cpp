// Commands on both servers while the engine's threads deliver events and frames, and the engine
// torn down while they still do. Meant for the ThreadSanitizer build as much as for the others.
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/agent_fixture.h"

namespace kelvo {
namespace test {
namespace {

class agent_concurrency : public agent_fixture {};

TEST_F(agent_concurrency, events_and_frames_arrive_while_commands_run_and_the_engine_goes) {
    auto page = control(0);
    page->join(1);
    page->engine_parameters(R"({"sim.video":{"width":64,"height":48,"fps":120},)"
                            R"("sim.peer.add":{"uid":100,"video":true}})");
    auto viewer = connect(1);
    EXPECT_EQ(viewer->request(R"({"command":"subscribe","uid":100})"),
              R"({"command":"subscribe","code":true})");
    ASSERT_TRUE(viewer->connection().wait_binary(agent_timeout).has_value());

    // A second page keeps the other server's thread busy with commands meanwhile.
    std::thread second_page([this] {
        agent_client second;
        ASSERT_TRUE(second.connect(port(1)));
        for (int round = 0; round < 40; ++round) {
            EXPECT_EQ(second.request(R"({"command":"initialize","key":"other"})"),
                      R"({"command":"initialize","code":19})");
            EXPECT_FALSE(second.request(R"({"command":"getVersion"})").empty());
        }
    });

    for (int round = 0; round < 40; ++round) {
        const std::string uid = std::to_string(200 + round);
        page->send(R"({"command":"setParameters","parameters":"{\"sim.peer.add\":{\"uid\":)" + uid +
                   R"(,\"video\":true},\"sim.peer.mute_audio\":{\"uid\":)" + uid +
                   R"(,\"muted\":true},\"sim.emit\":{\"callback\":\"warning\",\"code\":)" +
                   std::to_string(round) + R"(}}"})");
        page->send(R"({"command":"disableVideo","streamID":)" + uid + "}");
        page->send(R"({"command":"muteLocal"})");
        page->send(R"({"command":"renewChannelKey","channelKey":"k"})");
        page->send(R"({"command":"getDevices"})");
        if (round % 10 == 9) {
            page->send(R"({"command":"leaveChannel"})");
            page->send(R"({"command":"joinChannel","channelKey":"","channelName":"r"})");
        }
    }
    const std::vector<std::string> traffic = page->events_until_marker();
    EXPECT_GT(traffic.size(), 40u * 5);
    second_page.join();

    // The control connection goes while the engine still has events queued and frames flow.
    page->send(R"({"command":"setParameters","parameters":)"
               R"("{\"sim.emit\":{\"callback\":\"camera_ready\"},\"sim.peer.add\":{\"uid\":300,\"video\":true}}"})");
    page->connection().close();
    ASSERT_TRUE(log().wait_for("call release false"));
    EXPECT_FALSE(agent().engine_initialized());
    EXPECT_TRUE(viewer->connection().is_open());
}

// A stream connection on one server writes its closing line while the control connection on the
// other server releases the engine: the line is held inside the engine until the release begins
// (or a while passes), so a release that does not wait for lines in flight shows in the log.
TEST_F(agent_concurrency, engine_is_released_only_after_a_line_in_flight_has_returned) {
    auto page = control(0);
    page->join(1);
    auto viewer = connect(1);
    EXPECT_EQ(viewer->request(R"({"command":"subscribe","uid":42})"),
              R"({"command":"subscribe","code":true})");
    page->engine_parameters(R"({"sim.hold_log":{"prefix":"[wa] close channel","ms":300}})");

    viewer->connection().close();
    ASSERT_TRUE(log().wait_for("hold [wa] close channel for user 42"));
    page->connection().close();
    ASSERT_TRUE(log().wait_for("call release false"));
    EXPECT_EQ(log().count("release while a call runs"), 0u);
    EXPECT_TRUE(log().has_in_order({"L1 [wa] close channel for user 42", "call release false"}));
}

}  // namespace
}  // namespace test
}  // namespace kelvo
