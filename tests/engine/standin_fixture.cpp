#include "standin_fixture.h"

#include <frame_pattern.h>

#include "agent/engine_library.h"

namespace kelvo {
namespace test {

using kelvo::rtc::uid_t;

namespace {

std::string text(const char* value) { return value ? value : "(null)"; }
std::string number(long long value) { return std::to_string(value); }
std::string flag(bool value) { return value ? "true" : "false"; }

}  // namespace

// --- recording_handler ------------------------------------------------------------------------

void recording_handler::record(std::string name, std::string args) {
    if (forbidden.load()) ++late_calls;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        events_.push_back(recorded_event{std::move(name), std::move(args)});
    }
    changed_.notify_all();
}

std::vector<recorded_event> recording_handler::events() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return events_;
}

std::vector<recorded_event> recording_handler::wait_count(size_t count) {
    std::unique_lock<std::mutex> hold(mutex_);
    wait_for(hold, changed_, [&] { return events_.size() >= count; });
    return events_;
}

int recording_handler::wait_event(const std::string& name, size_t from) {
    std::unique_lock<std::mutex> hold(mutex_);
    int found = -1;
    wait_for(hold, changed_, [&] {
        for (size_t i = from; i < events_.size(); ++i) {
            if (events_[i].name == name) {
                found = static_cast<int>(i);
                return true;
            }
        }
        return false;
    });
    return found;
}

void recording_handler::onJoinChannelSuccess(const char* channel, uid_t uid, int elapsed) {
    record("onJoinChannelSuccess", text(channel) + " " + number(uid) + " " + number(elapsed));
}
void recording_handler::onRejoinChannelSuccess(const char* channel, uid_t uid, int elapsed) {
    record("onRejoinChannelSuccess", text(channel) + " " + number(uid) + " " + number(elapsed));
}
void recording_handler::onWarning(int warn, const char*) { record("onWarning", number(warn)); }
void recording_handler::onError(int err, const char*) { record("onError", number(err)); }
void recording_handler::onLeaveChannel(const kelvo::rtc::RtcStats&) { record("onLeaveChannel"); }
void recording_handler::onRemoteVideoStreamAvailable(uid_t uid, int width, int height, int elapsed) {
    record("onRemoteVideoStreamAvailable", number(uid) + " " + number(width) + " " + number(height) + " " +
                                               number(elapsed));
}
void recording_handler::onPeerLeave(uid_t uid, int reason) { record("onPeerLeave", number(uid) + " " + number(reason)); }
void recording_handler::onUserMuteAudio(uid_t uid, bool muted) { record("onUserMuteAudio", number(uid) + " " + flag(muted)); }
void recording_handler::onUserMuteVideo(uid_t uid, bool muted) { record("onUserMuteVideo", number(uid) + " " + flag(muted)); }
void recording_handler::onUserEnableVideo(uid_t uid, bool enabled) {
    record("onUserEnableVideo", number(uid) + " " + flag(enabled));
}
void recording_handler::onApiResult(const char* api, int error) { record("onApiResult", text(api) + " " + number(error)); }
void recording_handler::onCameraReady() { record("onCameraReady"); }
void recording_handler::onVideoStopped() { record("onVideoStopped"); }
void recording_handler::onJoinChannelFailure() { record("onJoinChannelFailure"); }
void recording_handler::onConnectionLost() { record("onConnectionLost"); }
void recording_handler::onRecordingStatus(int status) { record("onRecordingStatus", number(status)); }
void recording_handler::onRequestChannelKey() { record("onRequestChannelKey"); }

// --- recording_renderer / recording_factory ----------------------------------------------------

recording_renderer::recording_renderer(recording_factory& factory,
                                       const kelvo::media::ExternalVideoRenderContext& context)
    : context(context), factory_(factory), index_(factory.add(context)) {}

void recording_renderer::release() {
    factory_.released(index_);
    delete this;
}

int recording_renderer::deliverFrame(const kelvo::media::IVideoFrame& frame, int rotation, bool mirrored) {
    using kelvo::media::U_PLANE;
    using kelvo::media::V_PLANE;
    using kelvo::media::Y_PLANE;
    const int width = frame.width();
    const int height = frame.height();
    const kelvo::rtc::test_pattern::planes planes{
        frame.buffer(Y_PLANE), frame.stride(Y_PLANE), frame.buffer(U_PLANE), frame.stride(U_PLANE),
        frame.buffer(V_PLANE), frame.stride(V_PLANE), width, height, (width + 1) / 2, (height + 1) / 2};
    frame_record record{width,
                        height,
                        planes.y_stride,
                        planes.u_stride,
                        planes.v_stride,
                        rotation,
                        mirrored,
                        kelvo::rtc::test_pattern::frame_counter(planes),
                        kelvo::rtc::test_pattern::check_frame_pattern(planes)};
    factory_.frame(index_, std::move(record));
    return 0;
}

kelvo::media::IExternalVideoRender* recording_factory::createRenderInstance(
    const kelvo::media::ExternalVideoRenderContext& context) {
    check_allowed();
    ++create_calls;
    if (on_create) on_create(context.renderCallback);
    if (!make_renderers.load()) return nullptr;
    return new recording_renderer(*this, context);
}

void recording_factory::check_allowed() {
    if (forbidden.load()) ++late_calls;
}

size_t recording_factory::add(const kelvo::media::ExternalVideoRenderContext& context) {
    std::lock_guard<std::mutex> hold(mutex_);
    renderer_state state;
    state.context = context;
    renderers_.push_back(std::move(state));
    changed_.notify_all();
    return renderers_.size() - 1;
}

void recording_factory::frame(size_t index, frame_record record) {
    check_allowed();
    {
        std::lock_guard<std::mutex> hold(mutex_);
        renderer_state& state = renderers_[index];
        if (state.releases > 0) state.delivered_after_release = true;
        state.frames.push_back(std::move(record));
    }
    changed_.notify_all();
}

void recording_factory::released(size_t index) {
    check_allowed();
    {
        std::lock_guard<std::mutex> hold(mutex_);
        ++renderers_[index].releases;
    }
    changed_.notify_all();
}

std::vector<recording_factory::renderer_state> recording_factory::renderers() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return renderers_;
}

bool recording_factory::wait_frames(size_t index, size_t count) {
    std::unique_lock<std::mutex> hold(mutex_);
    return wait_for(hold, changed_,
                    [&] { return renderers_.size() > index && renderers_[index].frames.size() >= count; });
}

int recording_factory::wait_renderer(void* view) {
    std::unique_lock<std::mutex> hold(mutex_);
    int found = -1;
    wait_for(hold, changed_, [&] {
        for (size_t i = 0; i < renderers_.size(); ++i) {
            if (renderers_[i].context.view == view) {
                found = static_cast<int>(i);
                return true;
            }
        }
        return false;
    });
    return found;
}

bool recording_factory::wait_released(size_t index) {
    std::unique_lock<std::mutex> hold(mutex_);
    return wait_for(hold, changed_, [&] { return renderers_.size() > index && renderers_[index].releases > 0; });
}

size_t recording_factory::frame_count(size_t index) const {
    std::lock_guard<std::mutex> hold(mutex_);
    return renderers_.size() > index ? renderers_[index].frames.size() : 0;
}

// --- standin_test --------------------------------------------------------------------------------

void standin_test::TearDown() { release_engine(); }

kelvo::rtc::IRtcEngine* standin_test::make_engine() {
    engine_ = kelvo::rtc::web::engine_library::instance().create_engine();
    if (!engine_) {
        ADD_FAILURE() << "the stand-in engine library did not give an engine";
        return nullptr;
    }
    const kelvo::rtc::RtcEngineContext context{handler_.get(), "test-app"};
    EXPECT_EQ(0, engine_->initialize(context));
    void* media = nullptr;
    EXPECT_EQ(0, engine_->queryInterface(kelvo::rtc::IID_MEDIA_ENGINE, &media));
    if (media) {
        auto* media_engine = static_cast<kelvo::media::IMediaEngine*>(media);
        EXPECT_EQ(0, media_engine->registerVideoRenderFactory(factory_.get()));
        media_engine->release();
    }
    return engine_;
}

void standin_test::release_engine() {
    if (!engine_) return;
    engine_->release(false);
    engine_ = nullptr;
}

kelvo::rtc::IRtcEngineParameter* standin_test::parameters() {
    void* object = nullptr;
    EXPECT_EQ(0, engine_->queryInterface(kelvo::rtc::IID_RTC_ENGINE_PARAMETER, &object));
    return static_cast<kelvo::rtc::IRtcEngineParameter*>(object);
}

}  // namespace test
}  // namespace kelvo
