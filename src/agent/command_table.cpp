// The command table and the small operations that read each command's members and call the
// agent. A missing or ill-typed required member answers -2 without calling anything.
#include "agent/command_table.h"

#include "agent/engine_library.h"
#include "agent/rtc_engine_agent.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

constexpr int32_t invalid_member = -2;
constexpr int32_t not_joined = -3;
constexpr int32_t library_unavailable = -7;

// The first of the two members that is a JSON string.
bool read_text_or(const JsonValue& message, const char* first, const char* second,
                  std::string& out) {
    return message.readString(first, out) || message.readString(second, out);
}

// A required boolean: present and a JSON boolean. A value of another kind is refused rather than
// read as some default.
bool read_required_bool(const JsonValue& message, const char* key, bool& out) {
    bool preset_false = false;
    bool preset_true = true;
    if (!message.readBool(key, preset_false) || !message.readBool(key, preset_true)) return false;
    if (preset_false != preset_true) return false;
    out = preset_true;
    return true;
}

std::string text_member(const JsonValue& message, const char* key) {
    return message.getString(key, "");
}

// Records the requested view size; the stream channel copies the context when it is set up.
void read_view_size(command_call& call) {
    call.context->view_width = call.message.getInt("viewWidth", 0);
    call.context->view_height = call.message.getInt("viewHeight", 0);
}

// Runs a "preview" or "subscribe" set-up. The connection is a stream connection with frame
// dropping on before the set-up starts, so frames that flow at once find it so; a failed set-up
// puts it back as it was.
template <class SetUp>
int32_t become_stream_connection(command_call& call, SetUp set_up) {
    connection_context* context = call.context;
    const int32_t previous_state = context->state;
    net_engine& net = call.agent.net();
    context->state = connection_stream;
    net.set_frame_dropping(context->server_index, context->handle, true);
    const int32_t result = set_up();
    if (result != 0) {
        context->state = previous_state;
        if (previous_state != connection_stream) {
            net.set_frame_dropping(context->server_index, context->handle, false);
        }
    }
    return result;
}

// --- engine session --------------------------------------------------------------------------

int32_t run_initialize(command_call& call) {
    std::string app_id;
    if (call.message.readString("appID", app_id)) {
        call.agent.set_key_style(false);
    } else if (call.message.readString("key", app_id)) {
        call.agent.set_key_style(true);
    }
    return call.agent.initialize(app_id, call.context);
}

int32_t run_get_version(command_call& call) {
    const char* version = engine_library::instance().version();
    if (version == nullptr) return library_unavailable;
    call.reply.setString("version", version);
    return 0;
}

int32_t run_renew_channel_key(command_call& call) {
    return call.agent.renew_key(text_member(call.message, "channelKey"));
}

int32_t run_renew_channel_dynamic_key(command_call& call) {
    call.agent.set_key_style(true);
    return call.agent.renew_key(text_member(call.message, "key"));
}

int32_t run_join_channel(command_call& call) {
    std::string key;
    std::string channel;
    if (!read_text_or(call.message, "channelKey", "key", key) ||
        !read_text_or(call.message, "channelName", "channel", channel)) {
        return invalid_member;
    }
    return call.agent.join(key, channel, call.message.getUInt("uid", 0));
}

int32_t run_leave_channel(command_call& call) { return call.agent.leave(); }

int32_t run_set_parameters(command_call& call) {
    std::string parameters;
    if (!call.message.readString("parameters", parameters)) return invalid_member;
    return call.agent.set_parameters(parameters);
}

int32_t run_set_encryption_mode(command_call& call) {
    std::string mode;
    if (!call.message.readString("mode", mode)) return invalid_member;
    return call.agent.set_encryption_mode(mode);
}

int32_t run_set_encryption_secret(command_call& call) {
    std::string secret;
    if (!call.message.readString("secret", secret)) return invalid_member;
    return call.agent.set_encryption_secret(secret);
}

int32_t run_set_channel_profile(command_call& call) {
    const std::string profile = text_member(call.message, "profile");
    if (profile == "communication") return call.agent.set_channel_profile(false);
    if (profile == "live-broadcasting") return call.agent.set_channel_profile(true);
    return invalid_member;
}

int32_t run_set_client_role(command_call& call) {
    const std::string role = text_member(call.message, "role");
    const std::string key = text_member(call.message, "key");
    if (role == "broadcaster") {
        return call.agent.set_client_role(kelvo::rtc::CLIENT_ROLE_BROADCASTER, key);
    }
    if (role == "audience") return call.agent.set_client_role(kelvo::rtc::CLIENT_ROLE_AUDIENCE, key);
    return invalid_member;
}

int32_t run_enable_dual_stream_mode(command_call& call) {
    bool enabled = false;
    if (!read_required_bool(call.message, "enabled", enabled)) return invalid_member;
    return call.agent.enable_dual_stream_mode(enabled);
}

// --- media control ---------------------------------------------------------------------------

template <bool Mute>
int32_t run_mute_stream_audio(command_call& call) {
    uint32_t stream_id = 0;
    if (!call.message.readUInt("streamID", stream_id)) return invalid_member;
    return call.agent.mute_stream_audio(stream_id, Mute);
}

template <bool Mute>
int32_t run_mute_stream_video(command_call& call) {
    uint32_t stream_id = 0;
    if (!call.message.readUInt("streamID", stream_id)) return invalid_member;
    return call.agent.mute_stream_video(stream_id, Mute);
}

template <bool Mute>
int32_t run_mute_local(command_call& call) {
    if (!call.agent.joined()) return not_joined;
    return call.agent.mute_local(Mute);
}

int32_t run_enable_local_video(command_call& call) {
    bool enabled = false;
    if (!read_required_bool(call.message, "enabled", enabled)) return invalid_member;
    return call.agent.enable_local_video(enabled);
}

int32_t run_preview(command_call& call) {
    bool video = true;
    call.message.readBool("video", video);
    read_view_size(call);
    return become_stream_connection(call, [&] { return call.agent.preview(call.context, video); });
}

int32_t run_subscribe(command_call& call) {
    uint32_t uid = 0;
    if (!call.message.readUInt("uid", uid) || uid == 0) return invalid_member;
    read_view_size(call);
    return become_stream_connection(call, [&] { return call.agent.subscribe(call.context, uid); });
}

int32_t run_video_stat(command_call& call) {
    uint32_t uid = 0;
    if (!call.message.readUInt("uid", uid)) return 0;
    return call.agent.video_statistics(uid, call.message.getInt("latency", 0),
                                       call.message.getInt("fps", 0));
}

int32_t run_set_video_profile(command_call& call) {
    std::string profile;
    if (!call.message.readString("profile", profile)) return invalid_member;
    return call.agent.set_video_profile(profile,
                                        call.message.getBool("swapWidthAndHeight", false));
}

// --- devices, screen sharing and recording -----------------------------------------------------

// Runs a listing into a new array and, on success, adds it to the reply under `member`.
int32_t run_listing(command_call& call, const char* member,
                    int32_t (rtc_engine_agent::*list_operation)(JsonValue&)) {
    JsonValue list;
    list.makeArray();
    const int32_t result = (call.agent.*list_operation)(list);
    if (result == 0) call.reply.setValue(member, list);
    return result;
}

int32_t run_get_devices(command_call& call) {
    return run_listing(call, "devices", &rtc_engine_agent::getDevices);
}

int32_t run_get_windows(command_call& call) {
    return run_listing(call, "windows", &rtc_engine_agent::getWindows);
}

int32_t run_select_device(command_call& call) {
    const JsonValue device = call.message.getObject("device");
    std::string device_id;
    std::string kind;
    if (!device.readString("deviceId", device_id) || !device.readString("kind", kind)) {
        return invalid_member;
    }
    return call.agent.selectDevice(device_id, kind);
}

int32_t run_set_screen_sharing_window(command_call& call) {
    return call.agent.setScreenSharingWindow(text_member(call.message, "windowId"));
}

int32_t run_start_screen_sharing(command_call& call) {
    return call.agent.startScreenSharing(text_member(call.message, "window"));
}

int32_t run_stop_screen_sharing(command_call& call) { return call.agent.stopScreenSharing(); }

template <int32_t (rtc_engine_agent::*Operation)(const std::string&)>
int32_t run_recording_service(command_call& call) {
    std::string key;
    if (!read_text_or(call.message, "recordingKey", "key", key)) return invalid_member;
    return (call.agent.*Operation)(key);
}

int32_t run_query_recording_status(command_call& call) {
    return call.agent.queryRecordingStatus();
}

using answer = command_answer;

const command_entry command_entries[] = {
    {"initialize", allow_new, answer::immediate, run_initialize},
    {"getVersion", allow_any, answer::immediate, run_get_version},
    {"renewChannelKey", allow_control, answer::deferred, run_renew_channel_key},
    {"renewChannelDynamicKey", allow_control, answer::deferred, run_renew_channel_dynamic_key},
    {"joinChannel", allow_control, answer::deferred, run_join_channel},
    {"leaveChannel", allow_control, answer::deferred, run_leave_channel},
    {"enableAudio", allow_control, answer::immediate, run_mute_stream_audio<false>},
    {"disableAudio", allow_control, answer::immediate, run_mute_stream_audio<true>},
    {"enableVideo", allow_control, answer::immediate, run_mute_stream_video<false>},
    {"disableVideo", allow_control, answer::immediate, run_mute_stream_video<true>},
    {"enableLocalVideo", allow_control, answer::immediate, run_enable_local_video},
    {"preview", allow_new | allow_stream, answer::immediate, run_preview},
    {"subscribe", allow_new | allow_stream, answer::immediate, run_subscribe},
    {"videoStat", allow_stream, answer::never, run_video_stat},
    {"muteLocal", allow_control, answer::immediate, run_mute_local<true>},
    {"unmuteLocal", allow_control, answer::immediate, run_mute_local<false>},
    {"setVideoProfile", allow_control, answer::immediate, run_set_video_profile},
    {"getDevices", allow_control, answer::immediate, run_get_devices},
    {"selectDevice", allow_control, answer::immediate, run_select_device},
    {"startRecording", allow_control, answer::deferred,
     run_recording_service<&rtc_engine_agent::startRecording>},
    {"stopRecording", allow_control, answer::deferred,
     run_recording_service<&rtc_engine_agent::stopRecording>},
    {"queryRecordingStatus", allow_control, answer::deferred, run_query_recording_status},
    {"setParameters", allow_control, answer::immediate, run_set_parameters},
    {"setEncryptionMode", allow_control, answer::immediate, run_set_encryption_mode},
    {"setEncryptionSecret", allow_control, answer::immediate, run_set_encryption_secret},
    {"getWindows", allow_control, answer::immediate, run_get_windows},
    {"startScreenSharing", allow_control, answer::immediate, run_start_screen_sharing},
    {"setScreenSharingWindow", allow_control, answer::immediate, run_set_screen_sharing_window},
    {"stopScreenSharing", allow_control, answer::immediate, run_stop_screen_sharing},
    {"setChannelProfile", allow_control, answer::immediate, run_set_channel_profile},
    {"setClientRole", allow_control, answer::immediate, run_set_client_role},
    {"enableDualStreamMode", allow_control, answer::immediate, run_enable_dual_stream_mode},
};

}  // namespace

const command_entry* find_command(const std::string& name) {
    for (const command_entry& entry : command_entries) {
        if (name == entry.name) return &entry;
    }
    return nullptr;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
