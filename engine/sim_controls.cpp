// The engine's own parameter keys: "sim." controls and the agent's peer video mute.
#include <cjson/cJSON.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "agent_calls.h"
#include "standin_engine.h"

namespace kelvo {
namespace rtc {
namespace standin {

namespace {

const cJSON* member(const cJSON* object, const char* name) {
    return cJSON_IsObject(object) ? cJSON_GetObjectItemCaseSensitive(object, name) : nullptr;
}

bool is_integral(const cJSON* item, double low, double high) {
    return cJSON_IsNumber(item) && std::floor(item->valuedouble) == item->valuedouble &&
           item->valuedouble >= low && item->valuedouble <= high;
}

bool read_uid(const cJSON* item, uid_t& uid) {
    if (!is_integral(item, 0, 4294967295.0)) return false;
    uid = static_cast<uid_t>(item->valuedouble);
    return true;
}

// An optional integer member: absent leaves `value` alone; false when present but not an
// integer within [low, high].
bool read_int(const cJSON* object, const char* name, int low, int high, int& value) {
    const cJSON* item = member(object, name);
    if (!item) return true;
    if (!is_integral(item, low, high)) return false;
    value = static_cast<int>(item->valuedouble);
    return true;
}

// An optional boolean member, as read_int.
bool read_bool(const cJSON* object, const char* name, bool& value) {
    const cJSON* item = member(object, name);
    if (!item) return true;
    if (!cJSON_IsBool(item)) return false;
    value = cJSON_IsTrue(item);
    return true;
}

// An integer member where a missing or odd value counts as 0.
int int_or_zero(const cJSON* object, const char* name) {
    int value = 0;
    return read_int(object, name, INT32_MIN, INT32_MAX, value) ? value : 0;
}

// A text member that may be missing; missing texts are handed to the handler as null.
struct optional_text {
    explicit optional_text(const cJSON* item)
        : present(cJSON_IsString(item)), text(present ? item->valuestring : "") {}
    const char* get() const { return present ? text.c_str() : nullptr; }
    bool present;
    std::string text;
};

bool read_devices(const cJSON* list, std::vector<device_entry>& devices) {
    if (!cJSON_IsArray(list)) return false;
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, list) {
        if (!cJSON_IsObject(item)) return false;
        device_entry entry;
        const optional_text id(member(item, "id"));
        const optional_text name(member(item, "name"));
        entry.id = id.text;
        entry.name = name.text;
        if (!read_bool(item, "fail", entry.fail)) return false;
        devices.push_back(std::move(entry));
    }
    return true;
}

}  // namespace

int standin_engine::parameter_object(const std::string& key, const char* json) {
    if (key != "rtc.video.mute_peer") return 0;
    cJSON* root = json ? cJSON_Parse(json) : nullptr;
    uid_t uid = 0;
    bool mute = false;
    const bool valid = read_uid(member(root, "uid"), uid) && cJSON_IsBool(member(root, "mute"));
    if (valid) mute = cJSON_IsTrue(member(root, "mute"));
    cJSON_Delete(root);
    if (!valid) return -2;
    std::lock_guard<std::mutex> hold(mutex_);
    if (mute) {
        muted_by_agent_.insert(uid);
    } else {
        muted_by_agent_.erase(uid);
    }
    return 0;
}

int standin_engine::sim_key(const std::string& key, const cJSON* value) {
    if (key == "sim.peer.add") return sim_peer_add(value);
    if (key == "sim.peer.remove") return sim_peer_remove(value);
    if (key == "sim.peer.mute_audio") return sim_peer_flag(value, peer_flag::audio_muted);
    if (key == "sim.peer.mute_video") return sim_peer_flag(value, peer_flag::video_muted);
    if (key == "sim.peer.enable_video") return sim_peer_flag(value, peer_flag::video_enabled);
    if (key == "sim.emit") return sim_emit(value);
    if (key == "sim.fail_next") return sim_fail_next(value);
    if (key == "sim.devices") return sim_devices(value);
    if (key == "sim.no_interface") return sim_no_interface(value);
    if (key == "sim.video") return sim_video(value);
    if (key == "sim.hold_log") return sim_hold_log(value);
    return -2;
}

int standin_engine::sim_peer_add(const cJSON* value) {
    uid_t uid = 0;
    bool video = false;
    if (!read_uid(member(value, "uid"), uid) || uid == 0 || !read_bool(value, "video", video)) return -2;
    if (!joined_) return -2;
    peers_[uid].video = video;
    if (video) {
        post_remote_video(uid);
    } else {
        // As an engine tells of a user whose camera is off: the page learns the user is there.
        post("onUserEnableVideo " + std::to_string(uid) + " false", [uid](IRtcEngineEventHandler& h) {
            call_agent<&IRtcEngineEventHandler::onUserEnableVideo>(h, uid, false);
        });
    }
    return 0;
}

int standin_engine::sim_peer_remove(const cJSON* value) {
    uid_t uid = 0;
    if (!read_uid(value, uid) || peers_.erase(uid) == 0) return -2;
    post(log_words({"onPeerLeave", std::to_string(uid), "0"}),
         [uid](IRtcEngineEventHandler& h) {
             call_agent<&IRtcEngineEventHandler::onPeerLeave>(h, uid, 0);
         });
    return 0;
}

int standin_engine::sim_peer_flag(const cJSON* value, peer_flag flag) {
    uid_t uid = 0;
    const char* name = flag == peer_flag::video_enabled ? "enabled" : "muted";
    const cJSON* state = member(value, name);
    if (!read_uid(member(value, "uid"), uid) || !cJSON_IsBool(state)) return -2;
    const auto found = peers_.find(uid);
    if (found == peers_.end()) return -2;
    const bool on = cJSON_IsTrue(state);
    const std::string words = std::to_string(uid) + " " + log_bool(on);
    switch (flag) {
    case peer_flag::audio_muted:
        post("onUserMuteAudio " + words, [uid, on](IRtcEngineEventHandler& h) {
            call_agent<&IRtcEngineEventHandler::onUserMuteAudio>(h, uid, on);
        });
        break;
    case peer_flag::video_muted:
        found->second.video_muted = on;
        post("onUserMuteVideo " + words, [uid, on](IRtcEngineEventHandler& h) {
            call_agent<&IRtcEngineEventHandler::onUserMuteVideo>(h, uid, on);
        });
        break;
    case peer_flag::video_enabled:
        found->second.video = on;
        post("onUserEnableVideo " + words, [uid, on](IRtcEngineEventHandler& h) {
            call_agent<&IRtcEngineEventHandler::onUserEnableVideo>(h, uid, on);
        });
        break;
    }
    return 0;
}

int standin_engine::sim_emit(const cJSON* value) {
    const optional_text callback(member(value, "callback"));
    const std::string& name = callback.text;
    const int code = int_or_zero(value, "code");
    const std::string code_text = std::to_string(code);
    uid_t uid = 0;
    read_uid(member(value, "uid"), uid);
    const std::string uid_text = std::to_string(uid);

    if (name == "warning") {
        post("onWarning " + code_text, [code](IRtcEngineEventHandler& h) {
            call_agent<&IRtcEngineEventHandler::onWarning>(h, code, "sim");
        });
    } else if (name == "error") {
        post("onError " + code_text, [code](IRtcEngineEventHandler& h) {
            call_agent<&IRtcEngineEventHandler::onError>(h, code, "sim");
        });
    } else if (name == "join_failure") {
        post("onJoinChannelFailure", [](IRtcEngineEventHandler& h) {
            call_agent<&IRtcEngineEventHandler::onJoinChannelFailure>(h);
        });
    } else if (name == "connection_lost") {
        post("onConnectionLost", [](IRtcEngineEventHandler& h) {
            call_agent<&IRtcEngineEventHandler::onConnectionLost>(h);
        });
    } else if (name == "request_key") {
        post("onRequestChannelKey", [](IRtcEngineEventHandler& h) {
            call_agent<&IRtcEngineEventHandler::onRequestChannelKey>(h);
        });
    } else if (name == "camera_ready") {
        post("onCameraReady", [](IRtcEngineEventHandler& h) {
            call_agent<&IRtcEngineEventHandler::onCameraReady>(h);
        });
    } else if (name == "video_stopped") {
        post("onVideoStopped", [](IRtcEngineEventHandler& h) {
            call_agent<&IRtcEngineEventHandler::onVideoStopped>(h);
        });
    } else if (name == "recording_status") {
        const int status = int_or_zero(value, "status");
        post("onRecordingStatus " + std::to_string(status),
             [status](IRtcEngineEventHandler& h) {
                 call_agent<&IRtcEngineEventHandler::onRecordingStatus>(h, status);
             });
    } else if (name == "api_result") {
        const optional_text api(member(value, "api"));
        post(log_words({"onApiResult", api.text, code_text}),
             [api, code](IRtcEngineEventHandler& h) {
                 call_agent<&IRtcEngineEventHandler::onApiResult>(h, api.get(), code);
             });
    } else if (name == "rejoin") {
        const optional_text channel(member(value, "channel"));
        const int elapsed = int_or_zero(value, "elapsed");
        post(log_words({"onRejoinChannelSuccess", channel.text, uid_text, std::to_string(elapsed)}),
             [channel, uid, elapsed](IRtcEngineEventHandler& h) {
                 call_agent<&IRtcEngineEventHandler::onRejoinChannelSuccess>(h, channel.get(), uid,
                                                                             elapsed);
             });
    } else if (name == "remote_video") {
        post_remote_video(uid);
    } else if (name == "peer_leave") {
        const int reason = int_or_zero(value, "reason");
        post(log_words({"onPeerLeave", uid_text, std::to_string(reason)}),
             [uid, reason](IRtcEngineEventHandler& h) {
                 call_agent<&IRtcEngineEventHandler::onPeerLeave>(h, uid, reason);
             });
    } else if (name == "leave") {
        post("onLeaveChannel", [](IRtcEngineEventHandler& h) {
            const RtcStats stats{};
            call_agent<&IRtcEngineEventHandler::onLeaveChannel>(h, stats);
        });
    } else if (name == "join_success") {
        const optional_text channel(member(value, "channel"));
        post(log_words({"onJoinChannelSuccess", channel.text, uid_text, "0"}),
             [channel, uid](IRtcEngineEventHandler& h) {
                 call_agent<&IRtcEngineEventHandler::onJoinChannelSuccess>(h, channel.get(), uid, 0);
             });
    } else {
        return -2;
    }
    return 0;
}

int standin_engine::sim_fail_next(const cJSON* value) {
    const optional_text operation(member(value, "op"));
    int code = 0;
    if (operation.text.empty() || !member(value, "code") ||
        !read_int(value, "code", INT32_MIN, INT32_MAX, code)) {
        return -2;
    }
    failures_[operation.text] = code;
    return 0;
}

int standin_engine::sim_hold_log(const cJSON* value) {
    const optional_text prefix(member(value, "prefix"));
    int limit = 0;
    if (!prefix.present || !member(value, "ms") || !read_int(value, "ms", 1, 60000, limit)) return -2;
    log_hold_.arm(prefix.text, std::chrono::milliseconds(limit));
    return 0;
}

int standin_engine::sim_devices(const cJSON* value) {
    if (!cJSON_IsObject(value)) return -2;
    struct kind_list {
        const char* name;
        std::vector<device_entry>& target;
        std::vector<device_entry> read;
        bool given;
    };
    kind_list kinds[] = {{"videoinput", cameras_, {}, false},
                         {"audiooutput", playback_, {}, false},
                         {"audioinput", recording_, {}, false}};
    // Everything is checked before any list changes.
    for (kind_list& kind : kinds) {
        const cJSON* list = member(value, kind.name);
        if (!list) continue;
        if (!read_devices(list, kind.read)) return -2;
        kind.given = true;
    }
    for (kind_list& kind : kinds) {
        if (kind.given) kind.target = std::move(kind.read);
    }
    return 0;
}

int standin_engine::sim_no_interface(const cJSON* value) {
    if (!cJSON_IsArray(value)) return -2;
    std::set<int> ids;
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, value) {
        if (!is_integral(item, INT32_MIN, INT32_MAX)) return -2;
        ids.insert(static_cast<int>(item->valuedouble));
    }
    missing_interfaces_ = std::move(ids);
    return 0;
}

int standin_engine::sim_video(const cJSON* value) {
    if (!cJSON_IsObject(value)) return -2;
    video_settings next = video_;
    if (!read_int(value, "width", 1, max_frame_side, next.width) ||
        !read_int(value, "height", 1, max_frame_side, next.height) ||
        !read_int(value, "fps", 1, 120, next.fps) || !read_int(value, "stride", 0, 8192, next.stride) ||
        !read_int(value, "rotation", INT32_MIN, INT32_MAX, next.rotation) ||
        !read_bool(value, "mirrored", next.mirrored)) {
        return -2;
    }
    video_ = next;
    return 0;
}

}  // namespace standin
}  // namespace rtc
}  // namespace kelvo
