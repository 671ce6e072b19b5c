// The stand-in engine object: sessions, simulated peers, views, devices and the "sim." controls.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <kelvo/rizudada_engine.h>

#include "call_hold.h"
#include "engine_log.h"
#include "event_thread.h"
#include "render_view.h"

struct cJSON;

namespace kelvo {
namespace rtc {
namespace standin {

struct device_entry {
    std::string id;
    std::string name;
    bool fail = false;
};

enum class device_kind { camera, playback, recording };

class standin_engine final : public IRtcEngine, private view_host {
public:
    standin_engine();
    standin_engine(const standin_engine&) = delete;
    standin_engine& operator=(const standin_engine&) = delete;

    // IRtcEngine
    void release(bool sync) override;
    int initialize(const RtcEngineContext& context) override;
    int queryInterface(INTERFACE_ID_TYPE iid, void** inter) override;
    int joinChannel(const char* channelKey, const char* channelName, const char* info, uid_t uid) override;
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

    // --- services for the engine's parameter, media and device objects -----------------------
    // Logs a "call" line.
    void log_call(const std::string& arguments);
    // True (with the code) when "sim.fail_next" armed a failure for this operation; consumes it.
    bool take_failure(const char* operation, int& code);
    // The parameter object's operations with their effects (logged and failure-checked by it).
    int apply_parameters(const char* json);
    void parameter_bool(const std::string& key, bool value);
    void parameter_string(const std::string& key);
    int parameter_object(const std::string& key, const char* json);
    void register_factory(media::IExternalVideoRenderFactory* factory);
    std::vector<device_entry> devices(device_kind kind);

private:
    ~standin_engine();

    struct peer {
        bool video = false;
        bool video_muted = false;
    };
    using view_key = std::pair<bool, uid_t>;  // (local, uid)
    enum class peer_flag { audio_muted, video_muted, video_enabled };

    // view_host
    media::IExternalVideoRenderFactory* render_factory() override;
    bool frame_settings(bool local, uid_t uid, video_settings& settings) override;
    void log(const std::string& line) override;

    int setup_view(bool local, const VideoCanvas& canvas);
    // Callers hold mutex_ so that events are queued in the order of the state changes.
    void post(std::string description, event_thread::callback call);
    void post_remote_video(uid_t uid);

    // The "sim." keys; each returns 0 or -2. Called with mutex_ held.
    int sim_key(const std::string& key, const cJSON* value);
    int sim_peer_add(const cJSON* value);
    int sim_peer_remove(const cJSON* value);
    int sim_peer_flag(const cJSON* value, peer_flag flag);
    int sim_emit(const cJSON* value);
    int sim_fail_next(const cJSON* value);
    int sim_devices(const cJSON* value);
    int sim_no_interface(const cJSON* value);
    int sim_video(const cJSON* value);
    int sim_hold_log(const cJSON* value);

    engine_log log_;
    call_hold log_hold_{log_};

    std::mutex setup_mutex_;  // taken before mutex_, never by the engine's own threads
    std::mutex mutex_;
    bool joined_ = false;
    uid_t next_uid_ = 1000;
    std::map<uid_t, peer> peers_;
    std::set<uid_t> muted_by_agent_;
    bool capture_ = false;
    video_settings video_;
    std::vector<device_entry> cameras_;
    std::vector<device_entry> playback_;
    std::vector<device_entry> recording_;
    std::set<int> missing_interfaces_;
    std::map<std::string, int> failures_;
    media::IExternalVideoRenderFactory* factory_ = nullptr;
    std::map<view_key, std::unique_ptr<render_view>> views_;
    // Views that ended; kept so that their callback objects stay valid for late callers.
    std::vector<std::unique_ptr<render_view>> retired_;

    event_thread events_;
};

}  // namespace standin
}  // namespace rtc
}  // namespace kelvo
