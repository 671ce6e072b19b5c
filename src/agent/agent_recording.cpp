// The engine's recording service. Its answers come later with the engine's notifications. Each
// command's member reader sits beside its operation.
#include "agent/rtc_engine_agent.h"

namespace kelvo {
namespace rtc {
namespace web {

using kelvo::rtc::IRtcEngineParameter;

template <bool Start>
int32_t rtc_engine_agent::run_recording_service(command_call& call) {
    std::string key;
    if (!read_text_or(call.message, "recordingKey", "key", key) || key.empty()) {
        return result::invalid_request;
    }
    return with_parameters([&](IRtcEngineParameter& parameters) KELVO_REQUIRES(agent_lock_) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO,
                 Start ? "startRecordingService" : "stopRecordingService");
        const int32_t code = parameters.setString(
            Start ? "rtc.api.start_recording_service" : "rtc.api.stop_recording_service",
            key.c_str());
        if (code == 0) update_use(&device_use::recording, Start);
        return code;
    });
}
template int32_t rtc_engine_agent::run_recording_service<true>(command_call&);
template int32_t rtc_engine_agent::run_recording_service<false>(command_call&);

int32_t rtc_engine_agent::run_query_recording_status(command_call&) {
    return with_parameters([&](IRtcEngineParameter& parameters) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "refreshRecordingServiceStatus");
        return parameters.setBool("rtc.api.query_recording_service_status", true);
    });
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
