// The engine's recording service. Its answers come later with the engine's notifications.
#include "agent/rtc_engine_agent.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

using kelvo::rtc::IRtcEngineParameter;

constexpr int32_t invalid_argument = -2;

}  // namespace

int32_t rtc_engine_agent::set_recording_service(const char* key, const char* log_line,
                                                const std::string& recording_key) {
    if (recording_key.empty()) return invalid_argument;
    return with_parameters([&](IRtcEngineParameter& parameters) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "%s", log_line);
        return parameters.setString(key, recording_key.c_str());
    });
}

int32_t rtc_engine_agent::startRecording(const std::string& key) {
    return set_recording_service("rtc.api.start_recording_service", "[wa] startRecordingService",
                                 key);
}

int32_t rtc_engine_agent::stopRecording(const std::string& key) {
    return set_recording_service("rtc.api.stop_recording_service", "[wa] stopRecordingService",
                                 key);
}

int32_t rtc_engine_agent::queryRecordingStatus() {
    return with_parameters([&](IRtcEngineParameter& parameters) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "[wa] refreshRecordingServiceStatus");
        return parameters.setBool("rtc.api.query_recording_service_status", true);
    });
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
