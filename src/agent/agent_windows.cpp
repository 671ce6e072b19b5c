// Listing the windows that can be shared, and choosing one for screen sharing. Each command's
// member reader sits beside its operation.
#include "agent/rtc_engine_agent.h"

namespace kelvo {
namespace rtc {
namespace web {

using kelvo::rtc::IRtcEngineParameter;

int32_t rtc_engine_agent::run_get_windows(command_call& call) {
    return with_engine([&](kelvo::rtc::IRtcEngine&) KELVO_REQUIRES(agent_lock_) {
        JsonValue list;
        windows_.list(list);
        if (list.size() == 0) return result::nothing_found;
        call.reply.setValue("windows", list);
        return result::ok;
    });
}

int32_t rtc_engine_agent::set_screen_capture_window(const char* key, const std::string& window_id) {
    return with_parameters([&](IRtcEngineParameter& parameters) KELVO_REQUIRES(agent_lock_) {
        // The engine takes the handle as a 32-bit value.
        const intptr_t handle = windows_.handle_of(window_id);
        const int32_t code =
            parameters.setInt(key, static_cast<int32_t>(static_cast<uint32_t>(handle)));
        if (code == 0) update_use(&device_use::screen, true);
        return code;
    });
}

int32_t rtc_engine_agent::run_set_screen_sharing_window(command_call& call) {
    return set_screen_capture_window("che.video.set_screen_capture_window",
                                     call.message.getString("windowId", ""));
}

int32_t rtc_engine_agent::run_start_screen_sharing(command_call& call) {
    return set_screen_capture_window("che.video.start_screen_capture",
                                     call.message.getString("window", ""));
}

int32_t rtc_engine_agent::run_stop_screen_sharing(command_call&) {
    return with_parameters([&](IRtcEngineParameter& parameters) KELVO_REQUIRES(agent_lock_) {
        return stop_screen_sharing(parameters);
    });
}

int32_t rtc_engine_agent::stop_screen_sharing(IRtcEngineParameter& parameters) {
    const int32_t code = parameters.setBool("che.video.stop_screen_capture", true);
    if (code == 0) update_use(&device_use::screen, false);
    return code;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
