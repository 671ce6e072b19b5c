#include "standin_engine.h"

#include <cstdlib>

#include <cjson/cJSON.h>

#include "agent_calls.h"
#include "engine_interfaces.h"

namespace kelvo {
namespace rtc {
namespace standin {

namespace {

const char renew_key_api[] = "rtc.renew_channel_key";
const char start_recording_api[] = "rtc.api.start_recording_service";
const char stop_recording_api[] = "rtc.api.stop_recording_service";
const char query_recording_api[] = "rtc.api.query_recording_service_status";
const char capture_key[] = "rtc.video.capture";

}  // namespace

standin_engine::standin_engine()
    : cameras_{{"cam-0", "Stand-in Camera", false}},
      playback_{{"spk-0", "Stand-in Speaker", false}},
      recording_{{"mic-0", "Stand-in Microphone", false}},
      events_(log_) {}

standin_engine::~standin_engine() = default;

void standin_engine::release(bool sync) {
    log_call(log_words({"release", log_bool(sync)}));
    log_hold_.release_started();
    // Released from one of its own callbacks the engine cannot wait for that thread: it stops
    // everything, lets that thread run out and stays allocated for it.
    bool own_thread = events_.on_this_thread();
    events_.stop();
    std::vector<std::unique_ptr<render_view>> ending;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        for (auto& view : views_) ending.push_back(std::move(view.second));
        views_.clear();
        for (auto& view : retired_) ending.push_back(std::move(view));
        retired_.clear();
        factory_ = nullptr;
    }
    for (auto& view : ending) {
        view->stop();
        if (view->on_this_thread()) own_thread = true;
    }
    for (auto& view : ending) view->join();
    if (own_thread) {
        for (auto& view : ending) view.release();
        return;
    }
    ending.clear();
    delete this;
}

int standin_engine::initialize(const RtcEngineContext& context) {
    log_call(log_words({"initialize", log_text(context.appId)}));
    int code = 0;
    if (take_failure("initialize", code)) return code;
    // A fresh engine has no controls yet, so a failing initialise is asked for from outside.
    if (const char* refused = std::getenv("RIZUDADA_FAIL_INITIALIZE")) {
        if (*refused != '\0') return std::atoi(refused);
    }
    events_.set_handler(context.eventHandler);
    return 0;
}

int standin_engine::queryInterface(INTERFACE_ID_TYPE iid, void** inter) {
    log_call(log_words({"queryInterface", std::to_string(static_cast<int>(iid))}));
    if (inter) *inter = nullptr;
    int code = 0;
    if (take_failure("queryInterface", code)) return code;
    if (!inter) return -2;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (missing_interfaces_.count(static_cast<int>(iid))) return -2;
    }
    switch (iid) {
    case IID_AUDIO_DEVICE_MANAGER: *inter = new_audio_device_manager(*this); return 0;
    case IID_VIDEO_DEVICE_MANAGER: *inter = new_video_device_manager(*this); return 0;
    case IID_RTC_ENGINE_PARAMETER: *inter = new_parameter_object(*this); return 0;
    case IID_MEDIA_ENGINE: *inter = new_media_engine(*this); return 0;
    }
    return -2;
}

int standin_engine::joinChannel(const char* channelKey, const char* channelName, const char* info, uid_t uid) {
    log_call(log_words({"joinChannel", log_text(channelKey), log_text(channelName), log_text(info),
                        std::to_string(uid)}));
    int code = 0;
    if (take_failure("joinChannel", code)) return code;
    std::lock_guard<std::mutex> hold(mutex_);
    joined_ = true;
    peers_.clear();
    muted_by_agent_.clear();
    uid_t granted = uid;
    if (granted == 0) {
        granted = next_uid_++;
        if (next_uid_ == 0) next_uid_ = 1000;
    }
    const bool has_channel = channelName != nullptr;
    const std::string channel = log_text(channelName);
    post(log_words({"onJoinChannelSuccess", channel, std::to_string(granted), "0"}),
         [has_channel, channel, granted](IRtcEngineEventHandler& handler) {
             call_agent<&IRtcEngineEventHandler::onJoinChannelSuccess>(
                 handler, has_channel ? channel.c_str() : nullptr, granted, 0);
         });
    return 0;
}

int standin_engine::leaveChannel() {
    log_call("leaveChannel");
    int code = 0;
    if (take_failure("leaveChannel", code)) return code;
    std::lock_guard<std::mutex> hold(mutex_);
    joined_ = false;
    peers_.clear();
    muted_by_agent_.clear();
    post("onLeaveChannel", [](IRtcEngineEventHandler& handler) {
        const RtcStats stats{};
        call_agent<&IRtcEngineEventHandler::onLeaveChannel>(handler, stats);
    });
    return 0;
}

int standin_engine::renewChannelKey(const char* channelKey) {
    log_call(log_words({"renewChannelKey", log_text(channelKey)}));
    int code = 0;
    if (take_failure("renewChannelKey", code)) return code;
    std::lock_guard<std::mutex> hold(mutex_);
    post(log_words({"onApiResult", renew_key_api, "0"}),
         [](IRtcEngineEventHandler& handler) {
             call_agent<&IRtcEngineEventHandler::onApiResult>(handler, renew_key_api, 0);
         });
    return 0;
}

int standin_engine::setChannelProfile(CHANNEL_PROFILE_TYPE profile) {
    log_call(log_words({"setChannelProfile", std::to_string(static_cast<int>(profile))}));
    int code = 0;
    return take_failure("setChannelProfile", code) ? code : 0;
}

int standin_engine::setClientRole(CLIENT_ROLE_TYPE role, const char* permissionKey) {
    log_call(log_words({"setClientRole", std::to_string(static_cast<int>(role)), log_text(permissionKey)}));
    int code = 0;
    return take_failure("setClientRole", code) ? code : 0;
}

int standin_engine::enableVideo() {
    log_call("enableVideo");
    int code = 0;
    return take_failure("enableVideo", code) ? code : 0;
}

int standin_engine::setVideoProfile(int profile, bool swapWidthAndHeight) {
    log_call(log_words({"setVideoProfile", std::to_string(profile), log_bool(swapWidthAndHeight)}));
    int code = 0;
    return take_failure("setVideoProfile", code) ? code : 0;
}

int standin_engine::setupRemoteVideo(const VideoCanvas& canvas) {
    log_call(log_words({"setupRemoteVideo", std::to_string(canvas.uid)}));
    int code = 0;
    if (take_failure("setupRemoteVideo", code)) return code;
    return setup_view(false, canvas);
}

int standin_engine::setupLocalVideo(const VideoCanvas& canvas) {
    log_call(log_words({"setupLocalVideo", std::to_string(canvas.uid)}));
    int code = 0;
    if (take_failure("setupLocalVideo", code)) return code;
    return setup_view(true, canvas);
}

int standin_engine::setEncryptionMode(const char* encryptionMode) {
    log_call(log_words({"setEncryptionMode", log_text(encryptionMode)}));
    int code = 0;
    return take_failure("setEncryptionMode", code) ? code : 0;
}

int standin_engine::setEncryptionSecret(const char* secret) {
    log_call(log_words({"setEncryptionSecret", log_text(secret)}));
    int code = 0;
    return take_failure("setEncryptionSecret", code) ? code : 0;
}

int standin_engine::setParameters(const char* parameters) {
    log_call(log_words({"setParameters", log_text(parameters)}));
    int code = 0;
    if (take_failure("setParameters", code)) return code;
    return apply_parameters(parameters);
}

int standin_engine::reportVideoStats(const VideoStats& stats) {
    log_call(log_words({"reportVideoStats", std::to_string(stats.uid), std::to_string(stats.latency),
                        std::to_string(stats.measuredFrameRate), std::to_string(stats.pageFrameRate),
                        std::to_string(stats.droppedFrames)}));
    int code = 0;
    return take_failure("reportVideoStats", code) ? code : 0;
}

int standin_engine::writeLog(LOG_LEVEL level, const char* text) {
    int code = 0;
    if (take_failure("writeLog", code)) return code;
    const std::string line = log_text(text);
    const call_hold::passage passing(log_hold_, line);
    log_.write("L" + std::to_string(static_cast<int>(level)) + " " + line);
    return 0;
}

void standin_engine::log_call(const std::string& arguments) { log_.write("call " + arguments); }

bool standin_engine::take_failure(const char* operation, int& code) {
    std::lock_guard<std::mutex> hold(mutex_);
    const auto found = failures_.find(operation);
    if (found == failures_.end()) return false;
    code = found->second;
    failures_.erase(found);
    return true;
}

int standin_engine::apply_parameters(const char* json) {
    cJSON* root = json ? cJSON_Parse(json) : nullptr;
    if (!cJSON_IsObject(root)) {
        cJSON_Delete(root);
        return -2;
    }
    int result = 0;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        const cJSON* member = nullptr;
        cJSON_ArrayForEach(member, root) {
            const std::string key = member->string ? member->string : "";
            int code = 0;
            if (key == capture_key) {
                if (cJSON_IsBool(member)) capture_ = cJSON_IsTrue(member);
            } else if (key.compare(0, 4, "sim.") == 0) {
                code = sim_key(key, member);
            }
            if (result == 0) result = code;
        }
    }
    cJSON_Delete(root);
    return result;
}

void standin_engine::parameter_bool(const std::string& key, bool value) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (key == capture_key) {
        capture_ = value;
    } else if (key == query_recording_api) {
        post("onRecordingStatus 1", [](IRtcEngineEventHandler& handler) {
            call_agent<&IRtcEngineEventHandler::onRecordingStatus>(handler, 1);
        });
    }
}

void standin_engine::parameter_string(const std::string& key) {
    if (key != start_recording_api && key != stop_recording_api) return;
    std::lock_guard<std::mutex> hold(mutex_);
    post(log_words({"onApiResult", key, "0"}),
         [key](IRtcEngineEventHandler& handler) {
             call_agent<&IRtcEngineEventHandler::onApiResult>(handler, key.c_str(), 0);
         });
}

void standin_engine::register_factory(media::IExternalVideoRenderFactory* factory) {
    std::lock_guard<std::mutex> hold(mutex_);
    factory_ = factory;
}

std::vector<device_entry> standin_engine::devices(device_kind kind) {
    std::lock_guard<std::mutex> hold(mutex_);
    switch (kind) {
    case device_kind::camera: return cameras_;
    case device_kind::playback: return playback_;
    case device_kind::recording: return recording_;
    }
    return {};
}

int standin_engine::setup_view(bool local, const VideoCanvas& canvas) {
    // One set-up at a time, so that a replaced view's renderer is released before the new view
    // asks for its renderer (both may belong to the same view handle).
    std::lock_guard<std::mutex> serial(setup_mutex_);
    const view_key key{local, canvas.uid};
    std::unique_ptr<render_view> old;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        const auto found = views_.find(key);
        if (found != views_.end()) {
            old = std::move(found->second);
            views_.erase(found);
        }
    }
    if (old) {
        // Outside mutex_: the old view's thread may need it to finish its last frame.
        old->stop();
        old->join();
    }
    std::lock_guard<std::mutex> hold(mutex_);
    if (old) retired_.push_back(std::move(old));
    if (canvas.view) {
        view_host& host = *this;
        views_[key] = std::make_unique<render_view>(host, local, canvas.uid, canvas.view);
    }
    return 0;
}

media::IExternalVideoRenderFactory* standin_engine::render_factory() {
    std::lock_guard<std::mutex> hold(mutex_);
    return factory_;
}

bool standin_engine::frame_settings(bool local, uid_t uid, video_settings& settings) {
    std::lock_guard<std::mutex> hold(mutex_);
    settings = video_;
    if (local) return capture_;
    if (!joined_ || muted_by_agent_.count(uid)) return false;
    const auto found = peers_.find(uid);
    return found != peers_.end() && found->second.video && !found->second.video_muted;
}

void standin_engine::log(const std::string& line) { log_.write(line); }

void standin_engine::post(std::string description, event_thread::callback call) {
    events_.post(std::move(description), std::move(call));
}

void standin_engine::post_remote_video(uid_t uid) {
    const int width = video_.width;
    const int height = video_.height;
    post(log_words({"onRemoteVideoStreamAvailable", std::to_string(uid), std::to_string(width),
                    std::to_string(height), "0"}),
         [uid, width, height](IRtcEngineEventHandler& handler) {
             call_agent<&IRtcEngineEventHandler::onRemoteVideoStreamAvailable>(handler, uid, width,
                                                                              height, 0);
         });
}

}  // namespace standin
}  // namespace rtc
}  // namespace kelvo
