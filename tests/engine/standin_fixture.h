// Test doubles for driving the stand-in engine through its real library: an event handler that
// records every callback, a render factory whose renderers record and check every frame, and a
// fixture that points the engine's log at a fresh file and creates engines through the holder.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <kelvo/rizudada_engine.h>

#include "support/engine_log_file.h"

namespace kelvo {
namespace test {

constexpr std::chrono::seconds patience{10};

// Waits until `ready` holds (checked under `lock`), up to the generous test deadline.
template <typename Predicate>
bool wait_for(std::unique_lock<std::mutex>& lock, std::condition_variable& changed, Predicate ready) {
    return changed.wait_for(lock, patience, ready);
}

// One recorded callback: its name and its arguments as text.
struct recorded_event {
    std::string name;
    std::string args;
};

class recording_handler final : public kelvo::rtc::IRtcEngineEventHandler {
public:
    std::vector<recorded_event> events() const;
    // Waits until `count` events have arrived; the events so far.
    std::vector<recorded_event> wait_count(size_t count);
    // Waits for the first event called `name` at or after position `from`; its index or -1.
    int wait_event(const std::string& name, size_t from = 0);
    // Counts callbacks that arrive once forbidden() is set.
    std::atomic<bool> forbidden{false};
    std::atomic<int> late_calls{0};

    void onJoinChannelSuccess(const char* channel, kelvo::rtc::uid_t uid, int elapsed) override;
    void onRejoinChannelSuccess(const char* channel, kelvo::rtc::uid_t uid, int elapsed) override;
    void onWarning(int warn, const char* msg) override;
    void onError(int err, const char* msg) override;
    void onLeaveChannel(const kelvo::rtc::RtcStats& stats) override;
    void onRemoteVideoStreamAvailable(kelvo::rtc::uid_t uid, int width, int height, int elapsed) override;
    void onPeerLeave(kelvo::rtc::uid_t uid, int reason) override;
    void onUserMuteAudio(kelvo::rtc::uid_t uid, bool muted) override;
    void onUserMuteVideo(kelvo::rtc::uid_t uid, bool muted) override;
    void onUserEnableVideo(kelvo::rtc::uid_t uid, bool enabled) override;
    void onApiResult(const char* api, int error) override;
    void onCameraReady() override;
    void onVideoStopped() override;
    void onJoinChannelFailure() override;
    void onConnectionLost() override;
    void onRecordingStatus(int status) override;
    void onRequestChannelKey() override;

private:
    void record(std::string name, std::string args = std::string());

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<recorded_event> events_;
};

// What one renderer saw.
struct frame_record {
    int width;
    int height;
    int y_stride;
    int u_stride;
    int v_stride;
    int rotation;
    bool mirrored;
    uint32_t counter;
    std::string pattern_error;  // empty when every sample matched the test pattern
};

class recording_factory;

class recording_renderer final : public kelvo::media::IExternalVideoRender {
public:
    recording_renderer(recording_factory& factory, const kelvo::media::ExternalVideoRenderContext& context);

    void release() override;
    int initialize() override { return 0; }
    int deliverFrame(const kelvo::media::IVideoFrame& frame, int rotation, bool mirrored) override;

    const kelvo::media::ExternalVideoRenderContext context;

private:
    recording_factory& factory_;
    size_t index_;
};

// Makes renderers and keeps what each of them saw, by creation order.
class recording_factory final : public kelvo::media::IExternalVideoRenderFactory {
public:
    struct renderer_state {
        kelvo::media::ExternalVideoRenderContext context{};
        std::vector<frame_record> frames;
        int releases = 0;
        bool delivered_after_release = false;
    };

    kelvo::media::IExternalVideoRender* createRenderInstance(
        const kelvo::media::ExternalVideoRenderContext& context) override;

    // When set, called inside createRenderInstance with the engine's callback object.
    std::function<void(kelvo::media::IExternalVideoRenderCallback*)> on_create;
    // When false, createRenderInstance returns null.
    std::atomic<bool> make_renderers{true};
    std::atomic<int> create_calls{0};
    std::atomic<bool> forbidden{false};
    std::atomic<int> late_calls{0};

    std::vector<renderer_state> renderers() const;
    // Waits until renderer `index` exists and has at least `count` frames.
    bool wait_frames(size_t index, size_t count);
    // Waits until a renderer for `view` exists; its index, or -1.
    int wait_renderer(void* view);
    // Waits until renderer `index` has been released.
    bool wait_released(size_t index);
    size_t frame_count(size_t index) const;

private:
    friend class recording_renderer;
    size_t add(const kelvo::media::ExternalVideoRenderContext& context);
    void frame(size_t index, frame_record record);
    void released(size_t index);
    void check_allowed();

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<renderer_state> renderers_;
};

// Each test gets its own engine log file and creates engines through the program's holder.
class standin_test : public ::testing::Test {
protected:
    void TearDown() override;

    // A new engine from the library; initialised with the handler and the factory registered.
    kelvo::rtc::IRtcEngine* make_engine();
    void release_engine();
    kelvo::rtc::IRtcEngineParameter* parameters();

    const engine_log_file& log() const { return log_; }
    int set(const std::string& json) { return engine_->setParameters(json.c_str()); }

    engine_log_file log_{"kelvo-engine"};
    kelvo::rtc::IRtcEngine* engine_ = nullptr;
    std::unique_ptr<recording_handler> handler_ = std::make_unique<recording_handler>();
    std::unique_ptr<recording_factory> factory_ = std::make_unique<recording_factory>();
};

}  // namespace test
}  // namespace kelvo
