// Video streams end to end: the real agent and servers, the stand-in engine producing frames,
// pages as WebSocket clients on loopback.
#include <array>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/agent_fixture.h"
#include "video/stream_frame_reader.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

using kelvo::test::agent_client;
using test::next_frame;
using test::stream_frame;

constexpr uint32_t peer = 42;

class video_stream : public kelvo::test::agent_fixture {
protected:
    // A joined control connection with a peer that sends video.
    std::unique_ptr<agent_client> joined_with_peer(const std::string& video_settings = "") {
        auto page = control();
        EXPECT_NE(page->join(7).find("\"code\":true"), std::string::npos);
        std::string parameters = R"({"sim.peer.add":{"uid":42,"video":true})";
        if (!video_settings.empty()) parameters += ",\"sim.video\":" + video_settings;
        page->engine_parameters(parameters + "}");
        EXPECT_TRUE(page->wait_for(R"({"command":"onAddVideoStream","uid":42})"));
        return page;
    }

    std::unique_ptr<agent_client> subscribed(uint32_t uid, const std::string& extra = "") {
        auto stream = connect();
        EXPECT_EQ(stream->request(R"({"command":"subscribe","uid":)" + std::to_string(uid) + extra +
                                  "}"),
                  R"({"command":"subscribe","code":true})");
        return stream;
    }

    // Reads frames until one shows a counter above `after`; none when they stop coming.
    static std::optional<stream_frame> frame_after(agent_client& stream, uint32_t after) {
        for (int i = 0; i < 200; ++i) {
            std::optional<stream_frame> frame = next_frame(stream.connection());
            if (!frame) return std::nullopt;
            if (frame->counter() > after) return frame;
        }
        return std::nullopt;
    }

    // Waits until `client` has received no binary message for `quiet` and returns the count.
    static size_t settled_binary_count(kelvo::test::ws_test_client& client,
                                       std::chrono::milliseconds quiet = std::chrono::milliseconds(400)) {
        size_t count = client.binary_count();
        for (int i = 0; i < 25; ++i) {
            std::this_thread::sleep_for(quiet);
            const size_t now = client.binary_count();
            if (now == count) return now;
            count = now;
        }
        ADD_FAILURE() << "the stream never went quiet";
        return count;
    }

    // The reportVideoStats lines of the engine's log: uid, latency, rate, fps, dropped.
    std::vector<std::array<long, 5>> reported_stats() const {
        std::vector<std::array<long, 5>> reports;
        const std::string prefix = "call reportVideoStats ";
        for (const std::string& text : log().lines()) {
            if (text.rfind(prefix, 0) != 0) continue;
            std::istringstream numbers(text.substr(prefix.size()));
            std::array<long, 5> report{};
            for (long& value : report) numbers >> value;
            if (numbers && numbers.peek() == std::char_traits<char>::eof()) {
                reports.push_back(report);
            }
        }
        return reports;
    }

    // The reports once there are `count` of them (or what there is after the timeout).
    std::vector<std::array<long, 5>> wait_for_stats(size_t count) const {
        const auto deadline = std::chrono::steady_clock::now() + kelvo::test::agent_timeout;
        auto reports = reported_stats();
        while (reports.size() < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            reports = reported_stats();
        }
        return reports;
    }
};

TEST_F(video_stream, preview_streams_intact_local_frames_with_fresh_counters) {
    auto page = control();
    page->join(7);
    page->engine_parameters(R"({"sim.video":{"width":321,"height":241,"stride":330,"rotation":-90,"mirrored":true}})");
    auto stream = connect();
    ASSERT_EQ(stream->request(R"({"command":"preview"})"), R"({"command":"preview","code":true})");
    EXPECT_TRUE(log().wait_for(
        R"(call setParameters {"rtc.video.capture":true,"che.video.local.capture":true,"che.video.local.render":true,"che.video.local.send":true})"));
    EXPECT_TRUE(log().has("L1 [wa] setup video channel for user 0"));
    EXPECT_TRUE(log().has("call setupLocalVideo 0"));

    std::optional<stream_frame> first = next_frame(stream->connection());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->width, 321u);
    EXPECT_EQ(first->height, 241u);
    EXPECT_EQ(first->padding, 336u - 321u);  // stride 330 rounded up to 16
    EXPECT_EQ(first->rotation, 270u);
    EXPECT_TRUE(first->flag);
    EXPECT_EQ(first->pattern_mismatch(), "");
    const uint32_t wall = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                    std::chrono::system_clock::now().time_since_epoch())
                                                    .count());
    EXPECT_LT(wall - first->timestamp, 10000u);

    std::optional<stream_frame> second = next_frame(stream->connection());
    ASSERT_TRUE(second);
    EXPECT_EQ(second->pattern_mismatch(), "");
    EXPECT_GT(second->counter(), first->counter());
}

// A lobby: the own camera is shown before the page joins, and goes on through the join.
TEST_F(video_stream, a_preview_before_joining_streams_the_camera_through_the_join) {
    auto page = control();
    auto stream = connect();
    ASSERT_EQ(stream->request(R"({"command":"preview"})"), R"({"command":"preview","code":true})");
    std::optional<stream_frame> lobby = next_frame(stream->connection());
    ASSERT_TRUE(lobby);
    EXPECT_EQ(lobby->pattern_mismatch(), "");

    EXPECT_NE(page->join(7).find("\"code\":true"), std::string::npos);
    std::optional<stream_frame> joined = frame_after(*stream, lobby->counter());
    ASSERT_TRUE(joined);
    EXPECT_EQ(joined->pattern_mismatch(), "");
    EXPECT_EQ(log().count("L1 [wa] setup video channel for user 0"), 1u);
}

TEST_F(video_stream, preview_without_video_turns_capture_off_and_sets_up_no_channel) {
    auto page = control();
    auto stream = connect();
    ASSERT_EQ(stream->request(R"({"command":"preview","video":false})"),
              R"({"command":"preview","code":true})");
    EXPECT_TRUE(log().wait_for(
        R"(call setParameters {"rtc.video.capture":false,"che.video.local.capture":false,"che.video.local.render":false,"che.video.local.send":false})"));
    EXPECT_FALSE(log().has("L1 [wa] setup video channel for user 0"));
    // It is a stream connection now: control commands are refused there.
    EXPECT_EQ(stream->request(R"({"command":"muteLocal"})"), R"({"command":"muteLocal","code":5})");
}

TEST_F(video_stream, subscription_streams_peer_frames_at_the_requested_view_size) {
    auto page = joined_with_peer();
    auto stream = subscribed(peer, R"(,"viewWidth":160,"viewHeight":120)");
    EXPECT_TRUE(log().wait_for("call setupRemoteVideo 42"));
    std::optional<stream_frame> first = next_frame(stream->connection());
    ASSERT_TRUE(first);
    // The first frames may still be of the engine's own size; the view size follows at once.
    std::optional<stream_frame> sized = first;
    for (int i = 0; i < 5 && sized && sized->width != 160; ++i) sized = next_frame(stream->connection());
    ASSERT_TRUE(sized);
    EXPECT_EQ(sized->width, 160u);
    EXPECT_EQ(sized->height, 120u);
    EXPECT_EQ(sized->padding, 0u);
    EXPECT_FALSE(sized->flag);
    EXPECT_EQ(sized->pattern_mismatch(), "");
    std::optional<stream_frame> later = next_frame(stream->connection());
    ASSERT_TRUE(later);
    EXPECT_GT(later->counter(), sized->counter());

    // A channel exists now: the engine's notice of the peer's video announces nothing.
    page->engine_parameters(R"({"sim.emit":{"callback":"remote_video","uid":42}})");
    for (const std::string& text : page->events_until_marker()) {
        EXPECT_EQ(text.find("onAddVideoStream"), std::string::npos) << text;
    }
}

TEST_F(video_stream, pausing_stops_frames_and_resuming_announces_the_stream_again) {
    auto page = joined_with_peer();
    auto stream = subscribed(peer);
    ASSERT_TRUE(next_frame(stream->connection()));

    EXPECT_EQ(page->request(R"({"command":"disableVideo","streamID":42})"),
              R"({"command":"disableVideo","code":true})");
    EXPECT_TRUE(log().has(R"(call setObject rtc.video.mute_peer {"uid":42,"mute":true})"));
    // At most the frame being delivered while the mute happened still comes.
    const size_t before = stream->connection().binary_count();
    const size_t settled = settled_binary_count(stream->connection());
    EXPECT_LE(settled - before, 4u);
    while (stream->connection().wait_binary(std::chrono::milliseconds(0))) {
    }

    EXPECT_EQ(page->request(R"({"command":"enableVideo","streamID":42})"),
              R"({"command":"enableVideo","code":true})");
    EXPECT_TRUE(page->wait_for(R"({"command":"onAddVideoStream","uid":42})"));
    std::optional<stream_frame> resumed = next_frame(stream->connection());
    ASSERT_TRUE(resumed);
    EXPECT_EQ(resumed->pattern_mismatch(), "");
}

TEST_F(video_stream, second_subscription_replaces_the_first_and_survives_its_close) {
    auto page = joined_with_peer();
    auto first = subscribed(peer);
    ASSERT_TRUE(next_frame(first->connection()));

    auto second = subscribed(peer);
    ASSERT_TRUE(next_frame(second->connection()));
    settled_binary_count(first->connection());
    const size_t first_count = first->connection().binary_count();

    first->connection().close();
    ASSERT_TRUE(first->connection().wait_close(std::chrono::seconds(5)));
    EXPECT_TRUE(log().wait_for("L1 [wa] close channel for user 42"));
    // The second channel keeps streaming, with fresh frames after the close.
    std::optional<stream_frame> now = next_frame(second->connection());
    ASSERT_TRUE(now);
    std::optional<stream_frame> later = frame_after(*second, now->counter() + 3);
    ASSERT_TRUE(later);
    EXPECT_EQ(later->pattern_mismatch(), "");
    EXPECT_EQ(first->connection().binary_count(), first_count);
}

TEST_F(video_stream, a_second_set_up_on_one_connection_replaces_its_channel_and_close_leaves_nothing) {
    auto page = joined_with_peer(R"({"width":200,"height":100})");
    page->engine_parameters(R"({"sim.peer.add":{"uid":43,"video":true}})");
    ASSERT_TRUE(page->wait_for(R"({"command":"onAddVideoStream","uid":43})"));
    auto stream = subscribed(peer, R"(,"viewWidth":160,"viewHeight":120)");
    std::optional<stream_frame> frame;
    for (int i = 0; i < 5 && (!frame || frame->width != 160); ++i) frame = next_frame(stream->connection());
    ASSERT_TRUE(frame && frame->width == 160);

    EXPECT_EQ(stream->request(R"({"command":"subscribe","uid":43,"viewWidth":320,"viewHeight":240})"),
              R"({"command":"subscribe","code":true})");
    // The first user's view is released; frames it queued before that may still arrive for a
    // moment.
    ASSERT_TRUE(log().wait_for("render remote 42 released"));
    const auto settled = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < settled) ASSERT_TRUE(next_frame(stream->connection()));
    for (int i = 0; i < 10; ++i) {
        frame = next_frame(stream->connection());
        ASSERT_TRUE(frame);
        EXPECT_NE(frame->width, 160u) << "the first user's frames still come";
    }

    // Closed, the connection leaves no channel behind: both users are announced again.
    stream->connection().close();
    ASSERT_TRUE(log().wait_for("render remote 43 released"));
    page->engine_parameters(R"({"sim.emit":{"callback":"remote_video","uid":42}})");
    page->engine_parameters(R"({"sim.emit":{"callback":"remote_video","uid":43}})");
    EXPECT_TRUE(page->wait_for(R"({"command":"onAddVideoStream","uid":42})"));
    EXPECT_TRUE(page->wait_for(R"({"command":"onAddVideoStream","uid":43})"));
}

TEST_F(video_stream, channels_of_the_whole_agent_are_capped) {
    auto page = control();
    // One connection setting up again and again holds one channel.
    auto busy = connect();
    for (uint32_t uid = 1; uid <= 100; ++uid) {
        ASSERT_EQ(busy->request(R"({"command":"subscribe","uid":)" + std::to_string(uid) + "}"),
                  R"({"command":"subscribe","code":true})");
    }
    std::vector<std::unique_ptr<agent_client>> streams;
    for (uint32_t uid = 1000; uid < 1000 + 63; ++uid) streams.push_back(subscribed(uid));

    auto refused = connect();
    EXPECT_EQ(refused->request(R"({"command":"subscribe","uid":5000})"),
              R"({"command":"subscribe","code":429})");
    EXPECT_EQ(refused->request(R"({"command":"preview"})"), R"({"command":"preview","code":429})");
    // Replacing the channel of a uid that has one adds none, and a closed stream frees its place.
    EXPECT_EQ(refused->request(R"({"command":"subscribe","uid":1000})"),
              R"({"command":"subscribe","code":true})");
    streams.back()->connection().close();
    ASSERT_TRUE(log().wait_for("L1 [wa] close channel for user 1062"));
    auto later = connect();
    EXPECT_EQ(later->request(R"({"command":"subscribe","uid":5000})"),
              R"({"command":"subscribe","code":true})");
}

TEST_F(video_stream, slow_reader_gets_the_newest_frame_and_drops_reach_the_statistics) {
    auto page = joined_with_peer(R"({"width":1280,"height":720,"fps":60})");
    auto stream = subscribed(peer);
    std::optional<stream_frame> before = next_frame(stream->connection());
    ASSERT_TRUE(before);

    // The page stops reading: frames pile up in the socket, then in the connection's queue,
    // where each new frame replaces those still waiting.
    stream->connection().pause_reading();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    // Nothing the client had received before the pause is kept for the checks below.
    stream->connection().resume_reading();

    // Frames that were already in the socket buffers come first; a few frames later the
    // counter skips the frames that were dropped. How many depends on the engine's pace, which
    // a slow build or a busy machine lowers, so any gap counts.
    uint32_t previous = before->counter();
    bool jumped = false;
    for (int i = 0; i < 30 && !jumped; ++i) {
        std::optional<stream_frame> frame = next_frame(stream->connection());
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->pattern_mismatch(), "") << "frame " << i;
        jumped = frame->counter() > previous + 1;
        previous = frame->counter();
    }
    EXPECT_TRUE(jumped) << "no frames were dropped";

    stream->send(R"({"command":"videoStat","uid":42,"latency":5,"fps":24})");
    const auto reports = wait_for_stats(1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0][0], 42);
    EXPECT_EQ(reports[0][1], 5);
    EXPECT_GT(reports[0][2], 0) << "measured rate";
    EXPECT_EQ(reports[0][3], 24);
    EXPECT_GT(reports[0][4], 0) << "dropped frames";
    // videoStat is never answered.
    EXPECT_FALSE(stream->next(std::chrono::milliseconds(300)));
}

TEST_F(video_stream, pages_closing_while_frames_flow_leave_the_agent_serving) {
    auto page = joined_with_peer(R"({"width":640,"height":480,"fps":120})");
    for (int round = 0; round < 8; ++round) {
        auto stream = subscribed(peer);
        ASSERT_TRUE(next_frame(stream->connection())) << "round " << round;
        // The page goes while the engine's render thread is sending to it.
        stream.reset();
    }
    auto last = subscribed(peer);
    std::optional<stream_frame> frame = next_frame(last->connection());
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->pattern_mismatch(), "");
    EXPECT_NE(page->request(R"({"command":"getVersion"})").find("\"code\":true"), std::string::npos);
}

TEST_F(video_stream, statistics_of_own_video_use_uid_zero) {
    auto page = control();
    const std::string joined = page->join(7);
    auto stream = connect();
    ASSERT_EQ(stream->request(R"({"command":"preview"})"), R"({"command":"preview","code":true})");
    ASSERT_TRUE(next_frame(stream->connection()));
    stream->send(R"({"command":"videoStat","uid":7,"latency":1,"fps":2})");
    stream->send(R"({"command":"videoStat","latency":1,"fps":2})");  // no uid: ignored
    stream->send(R"({"command":"videoStat","uid":99})");              // no channel: zeros
    const auto reports = wait_for_stats(2);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1], (std::array<long, 5>{99, 0, 0, 0, 0}));
    EXPECT_EQ(reports[0][0], 0);
    EXPECT_EQ(reports[0][1], 1);
    EXPECT_EQ(reports[0][3], 2);
    EXPECT_EQ(page->request(R"({"command":"videoStat","uid":1})"), R"({"command":"videoStat","code":5})");
}

TEST_F(video_stream, after_leaving_stream_connections_stay_open_and_silent) {
    auto page = joined_with_peer();
    auto stream = subscribed(peer);
    ASSERT_TRUE(next_frame(stream->connection()));
    page->send(R"({"command":"leaveChannel"})");
    EXPECT_TRUE(log().wait_for("L1 [wa] clear all channels"));
    const size_t settled = settled_binary_count(stream->connection());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(stream->connection().binary_count(), settled);
    EXPECT_TRUE(stream->connection().is_open());
}

TEST_F(video_stream, without_engine_subscribe_answers_true_and_preview_answers_three) {
    auto stream = subscribed(5);
    EXPECT_EQ(stream->request(R"({"command":"getVersion"})").find("\"code\":true") != std::string::npos,
              true);
    auto other = connect();
    EXPECT_EQ(other->request(R"({"command":"preview"})"), R"({"command":"preview","code":3})");
    // Stream connection after "subscribe": "initialize" is not allowed there any more.
    EXPECT_EQ(stream->request(R"({"command":"initialize","appID":"x"})"),
              R"({"command":"initialize","code":5})");
}

TEST_F(video_stream, render_factory_refuses_views_that_name_no_channel) {
    auto page = control();
    kelvo::media::ExternalVideoRenderContext context{nullptr, nullptr, 1, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(agent().render_factory().createRenderInstance(context), nullptr);
    int unknown = 0;
    context.view = &unknown;
    EXPECT_EQ(agent().render_factory().createRenderInstance(context), nullptr);
}

}  // namespace
}  // namespace web
}  // namespace rtc
}  // namespace kelvo
