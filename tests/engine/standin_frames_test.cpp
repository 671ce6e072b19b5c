// The stand-in engine's views and frames: renderer creation, frame geometry and pattern, the
// counter, the requested view size, the conditions that start and stop frames, and renderer
// release on replacement, on "channel gone" and on engine release.
#include <gtest/gtest.h>

#include <frame_pattern.h>

#include "standin_fixture.h"

namespace kelvo {
namespace test {
namespace {

using namespace kelvo::rtc;

void* view_handle(uintptr_t value) { return reinterpret_cast<void*>(value); }

class standin_frames : public standin_test {
protected:
    void start_local(void* view = view_handle(0x100)) {
        ASSERT_EQ(0, set("{\"rtc.video.capture\":true}"));
        const VideoCanvas canvas{view, 1, 0, 0};
        ASSERT_EQ(0, engine_->setupLocalVideo(canvas));
    }

    // Frames that renderer `index` receives from now on stay within one more than those already
    // counted: at most one delivery may have been under way when its view stopped.
    void expect_frames_stopped(size_t index) {
        const size_t before = factory_->frame_count(index);
        // A fresh view at the same rate proves time has passed for several frame intervals.
        const size_t probe = factory_->renderers().size();
        ASSERT_EQ(0, set("{\"rtc.video.capture\":true}"));
        const VideoCanvas canvas{view_handle(0x999), 1, 0, 0};
        ASSERT_EQ(0, engine_->setupLocalVideo(canvas));
        ASSERT_TRUE(factory_->wait_frames(probe, 5));
        EXPECT_LE(factory_->frame_count(index), before + 1);
    }
};

void expect_clean_frames(const std::vector<frame_record>& frames) {
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ("", frames[i].pattern_error) << "frame " << i;
        if (i > 0) {
            EXPECT_EQ(frames[i - 1].counter + 1, frames[i].counter) << "frame " << i;
        }
    }
}

TEST_F(standin_frames, local_view_gets_default_frames_with_a_counting_pattern) {
    ASSERT_TRUE(make_engine());
    start_local();
    ASSERT_TRUE(factory_->wait_frames(0, 5));
    const auto renderers = factory_->renderers();
    ASSERT_EQ(1u, renderers.size());
    const media::ExternalVideoRenderContext& context = renderers[0].context;
    EXPECT_NE(nullptr, context.renderCallback);
    EXPECT_EQ(view_handle(0x100), context.view);
    EXPECT_EQ(1, context.renderMode);
    EXPECT_EQ(0u, context.uid);

    const std::vector<frame_record>& frames = renderers[0].frames;
    EXPECT_EQ(1u, frames[0].counter);
    for (const frame_record& frame : frames) {
        EXPECT_EQ(320, frame.width);
        EXPECT_EQ(240, frame.height);
        EXPECT_EQ(320, frame.y_stride);
        EXPECT_EQ(160, frame.u_stride);
        EXPECT_EQ(160, frame.v_stride);
        EXPECT_EQ(0, frame.rotation);
        EXPECT_FALSE(frame.mirrored);
    }
    expect_clean_frames(frames);
    EXPECT_TRUE(log().wait_for("render local 0 created", patience));
}

TEST_F(standin_frames, configured_geometry_rotation_and_mirroring) {
    ASSERT_TRUE(make_engine());
    ASSERT_EQ(0, set("{\"sim.video\":{\"width\":101,\"height\":51,\"stride\":128,\"fps\":60,"
                     "\"rotation\":-90,\"mirrored\":true}}"));
    start_local();
    ASSERT_TRUE(factory_->wait_frames(0, 3));
    const std::vector<frame_record> frames = factory_->renderers()[0].frames;
    for (const frame_record& frame : frames) {
        EXPECT_EQ(101, frame.width);
        EXPECT_EQ(51, frame.height);
        EXPECT_EQ(128, frame.y_stride);
        EXPECT_EQ(64, frame.u_stride);
        EXPECT_EQ(-90, frame.rotation);
        EXPECT_TRUE(frame.mirrored);
    }
    expect_clean_frames(frames);

    // A stride below the width means the width.
    ASSERT_EQ(0, set("{\"sim.video\":{\"stride\":16}}"));
    const size_t seen = factory_->frame_count(0);
    ASSERT_TRUE(factory_->wait_frames(0, seen + 2));
    EXPECT_EQ(101, factory_->renderers()[0].frames.back().y_stride);
    EXPECT_EQ(51, factory_->renderers()[0].frames.back().u_stride);
}

TEST_F(standin_frames, the_requested_view_size_wins) {
    ASSERT_TRUE(make_engine());
    factory_->on_create = [](media::IExternalVideoRenderCallback* callback) {
        callback->onViewSizeChanged(0, 10);  // ignored
        callback->onViewSizeChanged(64, 48);
    };
    ASSERT_EQ(0, set("{\"sim.video\":{\"width\":640,\"height\":360}}"));
    start_local();
    ASSERT_TRUE(factory_->wait_frames(0, 3));
    const std::vector<frame_record> first = factory_->renderers()[0].frames;
    for (const frame_record& frame : first) {
        EXPECT_EQ(64, frame.width);
        EXPECT_EQ(48, frame.height);
        EXPECT_EQ(64, frame.y_stride);
    }
    // A later request changes later frames.
    factory_->renderers()[0].context.renderCallback->onViewSizeChanged(32, 20);
    const size_t seen = factory_->frame_count(0);
    ASSERT_TRUE(factory_->wait_frames(0, seen + 2));
    const frame_record last = factory_->renderers()[0].frames.back();
    EXPECT_EQ(32, last.width);
    EXPECT_EQ(20, last.height);
    expect_clean_frames(factory_->renderers()[0].frames);
}

TEST_F(standin_frames, channel_gone_releases_the_renderer_and_stops_the_view) {
    ASSERT_TRUE(make_engine());
    start_local();
    ASSERT_TRUE(factory_->wait_frames(0, 2));
    factory_->renderers()[0].context.renderCallback->onViewDestroyed();
    ASSERT_TRUE(factory_->wait_released(0));
    const auto renderers = factory_->renderers();
    EXPECT_EQ(1, renderers[0].releases);
    EXPECT_FALSE(renderers[0].delivered_after_release);
    EXPECT_TRUE(log().wait_for("render local 0 released", patience));
    expect_frames_stopped(0);
}

TEST_F(standin_frames, local_frames_need_capture_on) {
    ASSERT_TRUE(make_engine());
    const VideoCanvas canvas{view_handle(0x100), 1, 0, 0};
    ASSERT_EQ(0, engine_->setupLocalVideo(canvas));
    ASSERT_EQ(0, engine_->setupRemoteVideo(VideoCanvas{view_handle(0x200), 1, 7, 0}));
    const int local = factory_->wait_renderer(view_handle(0x100));
    const int remote = factory_->wait_renderer(view_handle(0x200));
    ASSERT_LE(0, local);
    ASSERT_LE(0, remote);
    ASSERT_EQ(0, set("{\"rtc.video.capture\":true}"));
    ASSERT_TRUE(factory_->wait_frames(local, 2));
    ASSERT_EQ(0, set("{\"rtc.video.capture\":false}"));
    const size_t before = factory_->frame_count(local);
    // The remote view without a peer idles meanwhile: a peer with video starts its frames.
    EXPECT_EQ(0u, factory_->frame_count(remote));
    ASSERT_EQ(0, engine_->joinChannel("", "room", "ZuzIrave", 1));
    ASSERT_EQ(0, set("{\"sim.peer.add\":{\"uid\":7,\"video\":true}}"));
    ASSERT_TRUE(factory_->wait_frames(remote, 5));
    EXPECT_LE(factory_->frame_count(local), before + 1);

    // Capture through the parameter object counts as well.
    IRtcEngineParameter* parameter = parameters();
    ASSERT_NE(nullptr, parameter);
    EXPECT_EQ(0, parameter->setBool("rtc.video.capture", true));
    parameter->release();
    ASSERT_TRUE(factory_->wait_frames(local, before + 3));
    expect_clean_frames(factory_->renderers()[local].frames);
}

TEST_F(standin_frames, remote_frames_follow_the_peer) {
    ASSERT_TRUE(make_engine());
    ASSERT_EQ(0, engine_->joinChannel("", "room", "ZuzIrave", 1));
    ASSERT_EQ(0, engine_->setupRemoteVideo(VideoCanvas{view_handle(0x300), 1, 42, 0}));
    ASSERT_EQ(0, set("{\"sim.peer.add\":{\"uid\":42,\"video\":true}}"));
    ASSERT_TRUE(factory_->wait_frames(0, 3));
    EXPECT_EQ(42u, factory_->renderers()[0].context.uid);

    // Muted by the peer: no frames; unmuted: frames again, the counter goes on.
    ASSERT_EQ(0, set("{\"sim.peer.mute_video\":{\"uid\":42,\"muted\":true}}"));
    expect_frames_stopped(0);
    ASSERT_EQ(0, set("{\"sim.peer.mute_video\":{\"uid\":42,\"muted\":false}}"));
    size_t seen = factory_->frame_count(0);
    ASSERT_TRUE(factory_->wait_frames(0, seen + 2));

    // Muted by the agent's peer video mute.
    IRtcEngineParameter* parameter = parameters();
    ASSERT_NE(nullptr, parameter);
    EXPECT_EQ(0, parameter->setObject("rtc.video.mute_peer", "{\"uid\":42,\"mute\":true}"));
    expect_frames_stopped(0);
    EXPECT_EQ(0, parameter->setObject("rtc.video.mute_peer", "{\"uid\":42,\"mute\":false}"));
    EXPECT_EQ(-2, parameter->setObject("rtc.video.mute_peer", "{\"mute\":false}"));
    parameter->release();
    seen = factory_->frame_count(0);
    ASSERT_TRUE(factory_->wait_frames(0, seen + 2));

    // The peer leaves.
    ASSERT_EQ(0, set("{\"sim.peer.remove\":42}"));
    expect_frames_stopped(0);
    expect_clean_frames(factory_->renderers()[0].frames);
}

TEST_F(standin_frames, leaving_stops_remote_frames_and_forgets_peers) {
    ASSERT_TRUE(make_engine());
    ASSERT_EQ(0, engine_->joinChannel("", "room", "ZuzIrave", 1));
    ASSERT_EQ(0, engine_->setupRemoteVideo(VideoCanvas{view_handle(0x300), 1, 42, 0}));
    ASSERT_EQ(0, set("{\"sim.peer.add\":{\"uid\":42,\"video\":true}}"));
    ASSERT_TRUE(factory_->wait_frames(0, 2));
    ASSERT_EQ(0, engine_->leaveChannel());
    expect_frames_stopped(0);
    ASSERT_EQ(0, engine_->joinChannel("", "room", "ZuzIrave", 1));
    EXPECT_EQ(-2, set("{\"sim.peer.remove\":42}"));  // forgotten
}

TEST_F(standin_frames, a_new_view_for_the_same_uid_replaces_the_old_one) {
    ASSERT_TRUE(make_engine());
    start_local(view_handle(0x100));
    ASSERT_TRUE(factory_->wait_frames(0, 2));
    const VideoCanvas second{view_handle(0x200), 1, 0, 0};
    ASSERT_EQ(0, engine_->setupLocalVideo(second));
    // The old renderer is released before the set-up returns, and before its successor exists.
    auto renderers = factory_->renderers();
    ASSERT_GE(renderers.size(), 1u);
    EXPECT_EQ(1, renderers[0].releases);
    ASSERT_TRUE(factory_->wait_frames(1, 2));
    renderers = factory_->renderers();
    EXPECT_EQ(view_handle(0x200), renderers[1].context.view);
    EXPECT_EQ(1u, renderers[1].frames.front().counter);  // a new view counts from the start

    // A null view removes the view.
    const VideoCanvas none{nullptr, 1, 0, 0};
    ASSERT_EQ(0, engine_->setupLocalVideo(none));
    EXPECT_EQ(1, factory_->renderers()[1].releases);
    EXPECT_EQ(2u, factory_->renderers().size());
}

TEST_F(standin_frames, no_renderer_means_no_frames) {
    ASSERT_TRUE(make_engine());
    factory_->make_renderers = false;
    start_local();
    EXPECT_TRUE(log().wait_for("render local 0 none", patience));
    EXPECT_EQ(1, factory_->create_calls.load());
    EXPECT_TRUE(factory_->renderers().empty());
    // The view can still be replaced, and the next renderer gets frames.
    factory_->make_renderers = true;
    start_local(view_handle(0x200));
    ASSERT_TRUE(factory_->wait_frames(0, 2));
}

TEST_F(standin_frames, engine_release_releases_every_renderer_once) {
    ASSERT_TRUE(make_engine());
    start_local();
    ASSERT_EQ(0, engine_->joinChannel("", "room", "ZuzIrave", 1));
    ASSERT_EQ(0, set("{\"sim.peer.add\":{\"uid\":5,\"video\":true},\"sim.peer.add\":{\"uid\":6,\"video\":true}}"));
    ASSERT_EQ(0, engine_->setupRemoteVideo(VideoCanvas{view_handle(0x500), 1, 5, 0}));
    ASSERT_EQ(0, engine_->setupRemoteVideo(VideoCanvas{view_handle(0x600), 1, 6, 0}));
    for (size_t i = 0; i < 3; ++i) ASSERT_TRUE(factory_->wait_frames(i, 2));
    // A view that ended on its own stays released once.
    factory_->renderers()[2].context.renderCallback->onViewDestroyed();
    ASSERT_TRUE(factory_->wait_released(2));
    release_engine();
    factory_->forbidden = true;
    for (const auto& renderer : factory_->renderers()) {
        EXPECT_EQ(1, renderer.releases);
        EXPECT_FALSE(renderer.delivered_after_release);
        expect_clean_frames(renderer.frames);
    }
    EXPECT_EQ(0, factory_->late_calls.load());
}

TEST(frame_pattern, decodes_the_marker_strip_and_the_chroma_counter) {
    namespace tp = kelvo::rtc::test_pattern;
    const int width = 300;
    const int height = 33;
    const int stride = 304;
    const int chroma_stride = 152;
    std::vector<uint8_t> y(static_cast<size_t>(stride) * height);
    std::vector<uint8_t> u(static_cast<size_t>(chroma_stride) * 17);
    std::vector<uint8_t> v(u.size());
    const uint32_t counter = 0x8001A5C3u;
    tp::fill_frame_pattern(y.data(), stride, u.data(), chroma_stride, v.data(), chroma_stride, width, height,
                           counter);
    EXPECT_EQ(counter & 0xFFFFu, tp::decode_frame_counter(y.data(), stride, width));
    EXPECT_EQ(counter, tp::decode_frame_counter_u(u.data(), chroma_stride, 17));
    // A receiver keeping floor(H / 2) chroma rows finds the counter in its last row too.
    EXPECT_EQ(counter, tp::decode_frame_counter_u(u.data(), chroma_stride, 16));
    tp::planes full{y.data(), stride, u.data(), chroma_stride, v.data(), chroma_stride, width, height, 150, 17};
    EXPECT_EQ("", tp::check_frame_pattern(full));
    tp::planes packed{y.data(), stride, u.data(), chroma_stride, v.data(), chroma_stride, width, height, 150, 16};
    EXPECT_EQ(counter, tp::frame_counter(packed));
    EXPECT_EQ("", tp::check_frame_pattern(packed));
    EXPECT_EQ(235, y[8 * stride + 8]);  // bit 15 set
    EXPECT_EQ(16, y[8 * stride + 24]);  // bit 14 clear

    y[20 * stride + 7] ^= 1;
    EXPECT_EQ("Y plane at (7,20) is " + std::to_string(y[20 * stride + 7]) + ", expected " +
                  std::to_string((7 + 20 + counter) & 0xFF),
              tp::check_frame_pattern(full));
    // Narrow frames show only the high bits in the strip.
    EXPECT_EQ(0xFC00u, tp::visible_counter_bits(100));
    EXPECT_EQ(0xFFFFu, tp::visible_counter_bits(256));
    EXPECT_EQ(0u, tp::visible_counter_bits(15));
}

}  // namespace
}  // namespace test
}  // namespace kelvo
