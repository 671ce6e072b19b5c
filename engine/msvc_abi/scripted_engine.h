// The engine object: records every call with its arguments and plays the scripted call. There is
// one, living as long as the library: a process has one engine at a time.
#pragma once

#include <kelvo/rizudada_engine.h>

#include "engine_interfaces.h"
#include "engine_thread.h"
#include "render_view.h"

namespace kelvo {
namespace rtc {
namespace msvc_abi {

class scripted_engine final : public IRtcEngine {
public:
    // The engine for createRizudAdaEngine: null while one is in use.
    static IRtcEngine* create();

    void release(bool sync) override;
    int initialize(const RtcEngineContext& context) override;
    int queryInterface(INTERFACE_ID_TYPE iid, void** inter) override;
    int joinChannel(const char* channelKey, const char* channelName, const char* info,
                    uid_t uid) override;
    int leaveChannel() override;
    int renewChannelKey(const char* channelKey) override;
    int setChannelProfile(CHANNEL_PROFILE_TYPE profile) override;
    int setClientRole(CLIENT_ROLE_TYPE role, const char* permissionKey) override;
    int enableVideo() override;
    int setVideoProfile(int profile, bool swapWidthAndHeight) override;
    int setupRemoteVideo(const VideoCanvas& canvas) override;
    int setupLocalVideo(const VideoCanvas& canvas) override;
    int setEncryptionMode(const char* encryptionMode) override;
    int setEncryptionSecret(const char* secret) override;
    int setParameters(const char* parameters) override;
    int reportVideoStats(const VideoStats& stats) override;
    int writeLog(LOG_LEVEL level, const char* text) override;

private:
    static DWORD __stdcall play_join(void* self);
    static DWORD __stdcall play_leave(void* self);

    bool in_use_ = false;
    // Set by initialize, before any event thread starts.
    IRtcEngineEventHandler* handler_ = nullptr;
    // The joined channel's name and uid, for the join thread.
    char channel_[256] = {};
    uid_t granted_ = 0;
    engine_thread join_thread_;
    engine_thread leave_thread_;
    render_view remote_view_;
    parameter_object parameters_;
    media_object media_;
};

}  // namespace msvc_abi
}  // namespace rtc
}  // namespace kelvo
