// The renderer and its channel together, without an engine: attaching, the view size, release,
// the closed notice, deliveries to a channel that is gone, pausing and connection ownership.
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <slot_call.h>

#include "video/PageFramePace.h"
#include "video/VideoRenderImpl.h"
#include "video/VideoStreamChannel.h"
#include "video/fake_video_frame.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

class mock_render_callback : public kelvo::media::IExternalVideoRenderCallback {
public:
    MOCK_METHOD(void, onViewSizeChanged, (int width, int height), (override));
    MOCK_METHOD(void, onViewDestroyed, (), (override));
};

// The agent as a channel sees it: never joined unless told, sends nothing, counts announcements.
class fake_stream_host : public IVideoStreamHost {
public:
    bool isJoined() const override { return joined; }
    int32_t sendFrame(const connection_context&, const binary_group&, int32_t* dropped) override {
        *dropped = 0;
        return 0;
    }
    void announceStream(uint32_t) override {
        ++announcements;
        if (on_announce) on_announce();
    }

    bool joined = false;
    int announcements = 0;
    std::function<void()> on_announce;
};

class render_bridge : public ::testing::Test {
protected:
    std::shared_ptr<VideoStreamChannel> channel(int view_width = 0, int view_height = 0) {
        connection_context context;
        context.state = connection_stream;
        context.uid = 42;
        context.view_width = view_width;
        context.view_height = view_height;
        return std::make_shared<VideoStreamChannel>(host_, context);
    }

    fake_stream_host host_;
    ::testing::StrictMock<mock_render_callback> engine_callback_;
};

TEST_F(render_bridge, attaching_sends_the_requested_view_size_only_when_both_sides_are_set) {
    auto sized = channel(160, 120);
    EXPECT_CALL(engine_callback_, onViewSizeChanged(160, 120));
    auto* renderer = new VideoRenderImpl(&engine_callback_, sized);
    EXPECT_EQ(renderer->initialize(), 0);
    renderer->release();

    for (auto size : {std::pair<int, int>{0, 120}, {160, 0}, {0, 0}}) {
        auto unsized = channel(size.first, size.second);
        (new VideoRenderImpl(&engine_callback_, unsized))->release();
    }
}

template <typename Signature>
using render_slot = kelvo::rtc::standin::slot_call<kelvo::media::IExternalVideoRender, Signature>;

// The engine knows a renderer only by its slot numbers: 1 initialise, 2 deliver, 0 release.
TEST_F(render_bridge, the_engine_reaches_the_renderer_by_slot_numbers) {
    auto live = channel(160, 120);
    EXPECT_CALL(engine_callback_, onViewSizeChanged(160, 120));
    kelvo::media::IExternalVideoRender& renderer = *new VideoRenderImpl(&engine_callback_, live);
    EXPECT_EQ(render_slot<int()>::on(renderer, 1), 0);

    // A paused channel takes the frame and answers 0; an unpaused one that is not joined, -1.
    using deliver = render_slot<int(const kelvo::media::IVideoFrame&, int, bool)>;
    test::fake_video_frame frame(64, 48, 64, 32);
    live->setPaused(true);
    EXPECT_EQ(deliver::on(renderer, 2, frame, 90, true), 0);
    live->setPaused(false);
    EXPECT_EQ(deliver::on(renderer, 2, frame, 90, true), -1);

    // Release detaches the renderer: the channel's end reaches no one.
    render_slot<void()>::on(renderer, 0);
    live.reset();
}

TEST_F(render_bridge, destroying_the_channel_tells_the_engine_through_the_attached_renderer) {
    auto live = channel();
    auto* renderer = new VideoRenderImpl(&engine_callback_, live);
    EXPECT_CALL(engine_callback_, onViewDestroyed());
    live.reset();
    ::testing::Mock::VerifyAndClearExpectations(&engine_callback_);

    // A renderer outliving its channel answers -1 and releases quietly.
    test::fake_video_frame frame(64, 48, 64, 32);
    EXPECT_EQ(renderer->deliverFrame(frame, 0, false), -1);
    renderer->release();
}

TEST_F(render_bridge, release_detaches_whatever_renderer_the_channel_holds) {
    auto live = channel();
    ::testing::StrictMock<mock_render_callback> later_callback;
    auto* first = new VideoRenderImpl(&engine_callback_, live);
    auto* second = new VideoRenderImpl(&later_callback, live);
    first->release();  // detaches the second renderer too
    live.reset();      // so no one is told
    second->release();
}

// The engine's render callback, counting what reaches it after the renderer was released.
class counting_render_callback : public kelvo::media::IExternalVideoRenderCallback {
public:
    void onViewSizeChanged(int, int) override {}
    void onViewDestroyed() override {
        if (released.load()) late_notices.fetch_add(1);
    }
    std::atomic<bool> released{false};
    std::atomic<int> late_notices{0};
};

TEST_F(render_bridge, release_and_the_channels_last_reference_may_meet_in_either_order) {
    for (int round = 0; round < 300; ++round) {
        counting_render_callback engine_side;
        auto live = channel();
        auto* renderer = new VideoRenderImpl(&engine_side, live);
        std::atomic<int> ready{0};
        std::thread server([&] {
            ready.fetch_add(1);
            while (ready.load() < 2) {
            }
            live.reset();
        });
        ready.fetch_add(1);
        while (ready.load() < 2) {
        }
        renderer->release();
        engine_side.released = true;
        server.join();
        ASSERT_EQ(engine_side.late_notices.load(), 0) << "round " << round;
    }
}

TEST_F(render_bridge, resuming_during_the_announcement_announces_again_with_the_next_frame) {
    auto live = channel();
    test::fake_video_frame frame(64, 48, 64, 32);
    // The page pauses and resumes the user again while the resumed stream is being announced.
    bool toggled = false;
    host_.on_announce = [&] {
        if (toggled) return;
        toggled = true;
        live->setPaused(true);
        live->setPaused(false);
    };
    live->setPaused(true);
    live->setPaused(false);
    live->deliverFrame(frame, 0, false);
    EXPECT_EQ(host_.announcements, 1);
    live->deliverFrame(frame, 0, false);
    EXPECT_EQ(host_.announcements, 2);
    live->deliverFrame(frame, 0, false);
    EXPECT_EQ(host_.announcements, 2);
}

TEST_F(render_bridge, renderer_without_engine_callback_is_harmless) {
    auto live = channel(160, 120);
    auto* renderer = new VideoRenderImpl(nullptr, live);
    live.reset();
    renderer->release();
}

TEST_F(render_bridge, delivery_while_paused_does_nothing_and_unjoined_delivery_fails) {
    auto live = channel();
    test::fake_video_frame frame(64, 48, 64, 32);
    // Not joined: nothing can be sent.
    EXPECT_EQ(live->deliverFrame(frame, 0, false), -1);
    live->setPaused(true);
    EXPECT_EQ(live->deliverFrame(frame, 0, false), 0);
    live->setPaused(false);
    EXPECT_EQ(live->deliverFrame(frame, 0, false), -1);
    // A frame the header cannot describe is refused.
    frame.set_size(0, 48);
    EXPECT_EQ(live->deliverFrame(frame, 0, false), -1);

    int32_t rate = -1;
    int32_t dropped = -1;
    live->report(0, rate, dropped);
    EXPECT_EQ(dropped, 0);
    EXPECT_GE(rate, 0);
    // Nothing delivered since: the next report measures no frames.
    live->report(0, rate, dropped);
    EXPECT_EQ(rate, 0);
}

TEST_F(render_bridge, channel_belongs_to_the_connection_that_asked_for_it) {
    auto owner = std::make_shared<int>(1);
    auto other = std::make_shared<int>(2);
    connection_context context;
    context.uid = 42;
    context.handle = owner;
    VideoStreamChannel live(host_, context);

    EXPECT_TRUE(live.belongsTo(context));
    connection_context same_uid_other_connection = context;
    same_uid_other_connection.handle = other;
    EXPECT_FALSE(live.belongsTo(same_uid_other_connection));
    connection_context other_uid = context;
    other_uid.uid = 43;
    EXPECT_FALSE(live.belongsTo(other_uid));
    connection_context gone = context;
    gone.handle = connection_handle();
    EXPECT_FALSE(live.belongsTo(gone));
    // Once the connection is gone, a context whose handle leads nowhere matches too.
    owner.reset();
    EXPECT_TRUE(live.belongsTo(gone));
}

// Frames a page is sent per second of an engine making 30, after the reports given.
int paced_frames_in_a_second(PageFramePace& pace, int64_t& now_ms) {
    int sent = 0;
    for (int i = 0; i < 30; ++i, now_ms += 33) sent += pace.frameDue(now_ms) ? 1 : 0;
    return sent;
}

TEST(page_frame_pace, a_page_drawing_fewer_frames_is_sent_a_little_more_until_it_keeps_up) {
    PageFramePace pace;
    int64_t now_ms = 1000;
    EXPECT_EQ(paced_frames_in_a_second(pace, now_ms), 30);
    // The page drew 10 of 30: it is sent 14 a second (the engine's 33 ms steps make that 15).
    pace.pageReport(10, 30);
    const int paced = paced_frames_in_a_second(pace, now_ms);
    EXPECT_GE(paced, 12);
    EXPECT_LE(paced, 15);
    // It keeps up: twice as many, then every frame.
    pace.pageReport(paced, paced);
    EXPECT_GE(paced_frames_in_a_second(pace, now_ms), 25);
    pace.pageReport(28, 28);
    EXPECT_EQ(paced_frames_in_a_second(pace, now_ms), 30);
    // A page that draws nothing (hidden) or reports no rate is sent every frame; an absurd rate
    // is no rate to pace to.
    pace.pageReport(1, 30);
    EXPECT_LE(paced_frames_in_a_second(pace, now_ms), 4);
    pace.pageReport(0, 4);
    EXPECT_EQ(paced_frames_in_a_second(pace, now_ms), 30);
    pace.pageReport(2147483647, 2147483647);
    EXPECT_EQ(paced_frames_in_a_second(pace, now_ms), 30);
}

}  // namespace
}  // namespace web
}  // namespace rtc
}  // namespace kelvo
