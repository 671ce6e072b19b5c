// The command table: one declarative list of every command the page may send. The operations,
// with the member readers of their commands, live in the category files (agent_info.cpp,
// agent_session.cpp, agent_options.cpp, agent_media.cpp, agent_streams.cpp, agent_devices.cpp,
// agent_windows.cpp, agent_recording.cpp).
#include <iterator>

#include "agent/rtc_engine_agent.h"

namespace kelvo {
namespace rtc {
namespace web {

bool read_text_or(const JsonValue& message, const char* first, const char* second,
                  std::string& out) {
    return message.readString(first, out) || message.readString(second, out);
}

bool read_required_bool(const JsonValue& message, const char* key, bool& out) {
    bool preset_false = false;
    bool preset_true = true;
    if (!message.readBool(key, preset_false) || !message.readBool(key, preset_true)) return false;
    if (preset_false != preset_true) return false;
    out = preset_true;
    return true;
}

namespace {
using answer = command_answer;
using agent = rtc_engine_agent;
}  // namespace

const command_entry rtc_engine_agent::command_entries[] = {
    {"initialize", allow_new, answer::immediate, &agent::run_initialize},
    {"getVersion", allow_any, answer::immediate, &agent::run_get_version},
    {"getAgentInfo", allow_any, answer::immediate, &agent::run_get_agent_info},
    {"renewChannelKey", allow_control, answer::deferred, &agent::run_renew_channel_key},
    {"renewChannelDynamicKey", allow_control, answer::deferred,
     &agent::run_renew_channel_dynamic_key},
    {"joinChannel", allow_control, answer::deferred, &agent::run_join_channel},
    {"leaveChannel", allow_control, answer::deferred, &agent::run_leave_channel},
    {"enableAudio", allow_control, answer::immediate, &agent::run_mute_stream_audio<false>},
    {"disableAudio", allow_control, answer::immediate, &agent::run_mute_stream_audio<true>},
    {"enableVideo", allow_control, answer::immediate, &agent::run_mute_stream_video<false>},
    {"disableVideo", allow_control, answer::immediate, &agent::run_mute_stream_video<true>},
    {"enableLocalVideo", allow_control, answer::immediate, &agent::run_enable_local_video},
    {"preview", allow_new | allow_stream, answer::immediate, &agent::run_preview},
    {"subscribe", allow_new | allow_stream, answer::immediate, &agent::run_subscribe},
    {"videoStat", allow_stream, answer::never, &agent::run_video_stat},
    {"muteLocal", allow_control, answer::immediate, &agent::run_mute_local<true>},
    {"unmuteLocal", allow_control, answer::immediate, &agent::run_mute_local<false>},
    {"setVideoProfile", allow_control, answer::immediate, &agent::run_set_video_profile},
    {"getDevices", allow_control, answer::immediate, &agent::run_get_devices},
    {"selectDevice", allow_control, answer::immediate, &agent::run_select_device},
    {"startRecording", allow_control, answer::deferred, &agent::run_recording_service<true>},
    {"stopRecording", allow_control, answer::deferred, &agent::run_recording_service<false>},
    {"queryRecordingStatus", allow_control, answer::deferred, &agent::run_query_recording_status},
    {"setParameters", allow_control, answer::immediate, &agent::run_set_parameters},
    {"setEncryptionMode", allow_control, answer::immediate, &agent::run_set_encryption_mode},
    {"setEncryptionSecret", allow_control, answer::immediate, &agent::run_set_encryption_secret},
    {"getWindows", allow_control, answer::immediate, &agent::run_get_windows},
    {"startScreenSharing", allow_control, answer::immediate, &agent::run_start_screen_sharing},
    {"setScreenSharingWindow", allow_control, answer::immediate,
     &agent::run_set_screen_sharing_window},
    {"stopScreenSharing", allow_control, answer::immediate, &agent::run_stop_screen_sharing},
    {"setChannelProfile", allow_control, answer::immediate, &agent::run_set_channel_profile},
    {"setClientRole", allow_control, answer::immediate, &agent::run_set_client_role},
    {"enableDualStreamMode", allow_control, answer::immediate,
     &agent::run_enable_dual_stream_mode},
};

const size_t rtc_engine_agent::command_count = std::size(command_entries);

const command_entry* rtc_engine_agent::find_command(const std::string& name) {
    for (const command_entry& entry : command_entries) {
        if (name == entry.name) return &entry;
    }
    return nullptr;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
