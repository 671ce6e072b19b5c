// Channels set up, replaced and closed while frames flow on the engine's render threads, with
// statistics and pauses from other connections at the same time (run under ThreadSanitizer).
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/agent_fixture.h"
#include "video/stream_frame_reader.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

using kelvo::test::agent_client;

class video_stream_churn : public kelvo::test::agent_fixture {};

TEST_F(video_stream_churn, frames_keep_flowing_through_set_up_replacement_and_close) {
    auto page = control();
    ASSERT_NE(page->join(7).find("\"code\":true"), std::string::npos);
    page->engine_parameters(
        R"({"sim.peer.add":{"uid":42,"video":true},"sim.video":{"width":64,"height":48,"fps":120}})");
    page->engine_parameters(R"({"sim.peer.add":{"uid":43,"video":true}})");

    // A second page keeps pausing and resuming uid 43 and asking for statistics meanwhile.
    std::atomic<bool> done{false};
    auto other = connect(1);
    ASSERT_EQ(other->request(R"({"command":"subscribe","uid":43})"),
              R"({"command":"subscribe","code":true})");
    std::thread noise([&] {
        for (int i = 0; !done.load(); ++i) {
            other->send(R"({"command":"videoStat","uid":43,"latency":1,"fps":2})");
            page->send(std::string(R"({"command":")") + (i % 2 ? "enableVideo" : "disableVideo") +
                       R"(","streamID":43})");
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });

    std::vector<std::unique_ptr<agent_client>> streams;
    for (int round = 0; round < 12; ++round) {
        auto stream = connect(round % 2);
        const std::string command = round % 3 == 2 ? R"({"command":"preview"})"
                                                   : R"({"command":"subscribe","uid":42})";
        stream->send(command);
        streams.push_back(std::move(stream));
        if (streams.size() > 2) {
            // Close an older one while the newer ones stream.
            streams.front()->connection().close();
            streams.erase(streams.begin());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    done.store(true);
    noise.join();

    // The last subscription still streams whole, intact frames.
    auto last = connect();
    ASSERT_EQ(last->request(R"({"command":"subscribe","uid":42})"),
              R"({"command":"subscribe","code":true})");
    for (int i = 0; i < 3; ++i) {
        std::optional<test::stream_frame> frame = test::next_frame(last->connection());
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->pattern_mismatch(), "");
    }
}

}  // namespace
}  // namespace web
}  // namespace rtc
}  // namespace kelvo
