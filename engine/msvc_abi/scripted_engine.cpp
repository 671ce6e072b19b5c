#include "scripted_engine.h"

#include "call_events.h"
#include "engine_log.h"
#include "scripted_call.h"

namespace kelvo {
namespace rtc {
namespace msvc_abi {
namespace {

// No initialiser ever runs in this library, so the engine is made by the compiler.
[[clang::require_constant_initialization]] scripted_engine the_engine;

}  // namespace

IRtcEngine* scripted_engine::create() {
    if (the_engine.in_use_) return nullptr;
    open_engine_log();
    the_engine.in_use_ = true;
    return &the_engine;
}

void scripted_engine::release(bool sync) {
    remote_view_.end();
    remote_view_.join();
    join_thread_.join();
    leave_thread_.join();
    handler_ = nullptr;
    in_use_ = false;
    log_line("call release").boolean(sync).write();
}

int scripted_engine::initialize(const RtcEngineContext& context) {
    log_line("call initialize").text(context.appId).write();
    handler_ = context.eventHandler;
    return 0;
}

int scripted_engine::queryInterface(INTERFACE_ID_TYPE iid, void** inter) {
    log_line("call queryInterface").signed_number(iid).write();
    if (inter == nullptr) return -2;
    if (iid == IID_RTC_ENGINE_PARAMETER) {
        *inter = static_cast<IRtcEngineParameter*>(&parameters_);
    } else if (iid == IID_MEDIA_ENGINE) {
        *inter = static_cast<media::IMediaEngine*>(&media_);
    } else {
        return -2;
    }
    return 0;
}

int scripted_engine::joinChannel(const char* channelKey, const char* channelName,
                                 const char* info, uid_t uid) {
    log_line("call joinChannel").text(channelKey).text(channelName).text(info).number(uid).write();
    // Events of one call after those of the call before; the event threads never wait for the
    // caller, so waiting here cannot block them.
    join_thread_.join();
    leave_thread_.join();
    int length = 0;
    for (; channelName != nullptr && channelName[length] != '\0' &&
           length < static_cast<int>(sizeof channel_) - 1;
         ++length) {
        channel_[length] = channelName[length];
    }
    channel_[length] = '\0';
    granted_ = uid != 0 ? uid : granted_uid;
    return handler_ != nullptr && join_thread_.start(&scripted_engine::play_join, this) ? 0 : -1;
}

int scripted_engine::leaveChannel() {
    log_line("call leaveChannel").write();
    join_thread_.join();
    leave_thread_.join();
    return handler_ != nullptr && leave_thread_.start(&scripted_engine::play_leave, this) ? 0 : -1;
}

DWORD __stdcall scripted_engine::play_join(void* self) {
    auto& engine = *static_cast<scripted_engine*>(self);
    play_join_events(*engine.handler_, engine.channel_, engine.granted_);
    return 0;
}

DWORD __stdcall scripted_engine::play_leave(void* self) {
    play_leave_event(*static_cast<scripted_engine*>(self)->handler_);
    return 0;
}

int scripted_engine::renewChannelKey(const char* channelKey) {
    log_line("call renewChannelKey").text(channelKey).write();
    return 0;
}

int scripted_engine::setChannelProfile(CHANNEL_PROFILE_TYPE profile) {
    log_line("call setChannelProfile").signed_number(profile).write();
    return 0;
}

int scripted_engine::setClientRole(CLIENT_ROLE_TYPE role, const char* permissionKey) {
    log_line("call setClientRole").signed_number(role).text(permissionKey).write();
    return 0;
}

int scripted_engine::enableVideo() {
    log_line("call enableVideo").write();
    return 0;
}

int scripted_engine::setVideoProfile(int profile, bool swapWidthAndHeight) {
    log_line("call setVideoProfile").signed_number(profile).boolean(swapWidthAndHeight).write();
    return 0;
}

int scripted_engine::setupRemoteVideo(const VideoCanvas& canvas) {
    log_line("call setupRemoteVideo").number(canvas.uid).signed_number(canvas.renderMode)
        .signed_number(canvas.reserved).text(canvas.view != nullptr ? "view" : "none").write();
    // A view set up again replaces the one before, once that has released its renderer.
    remote_view_.end();
    remote_view_.join();
    if (canvas.view == nullptr) return 0;
    return remote_view_.start(media_.factory(), handler_, canvas.view, canvas.uid) ? 0 : -1;
}

int scripted_engine::setupLocalVideo(const VideoCanvas& canvas) {
    log_line("call setupLocalVideo").number(canvas.uid).signed_number(canvas.renderMode)
        .signed_number(canvas.reserved).text(canvas.view != nullptr ? "view" : "none").write();
    return 0;
}

int scripted_engine::setEncryptionMode(const char* encryptionMode) {
    log_line("call setEncryptionMode").text(encryptionMode).write();
    return 0;
}

int scripted_engine::setEncryptionSecret(const char* secret) {
    log_line("call setEncryptionSecret").text(secret).write();
    return 0;
}

int scripted_engine::setParameters(const char* parameters) {
    log_line("call setParameters").text(parameters).write();
    return 0;
}

int scripted_engine::reportVideoStats(const VideoStats& stats) {
    log_line("call reportVideoStats").number(stats.uid).signed_number(stats.latency)
        .signed_number(stats.measuredFrameRate).signed_number(stats.pageFrameRate)
        .signed_number(stats.droppedFrames).write();
    return 0;
}

int scripted_engine::writeLog(LOG_LEVEL level, const char* text) {
    // "L<level> <text>", as the stand-in engine writes it.
    log_line("L").attached_number(level).text(text).write();
    return 0;
}

}  // namespace msvc_abi
}  // namespace rtc
}  // namespace kelvo
