// Session-wide options the page passes to the engine: parameters, encryption, channel profile,
// client role and dual-stream mode. Each command's member reader sits beside its operation.
#include "agent/rtc_engine_agent.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

using kelvo::rtc::IRtcEngine;

}  // namespace

int32_t rtc_engine_agent::pass_text_member(command_call& call, const char* member,
                                           int (IRtcEngine::*operation)(const char*)) {
    std::string text;
    if (!call.message.readString(member, text)) return result::invalid_request;
    return with_engine([&](IRtcEngine& engine) { return (engine.*operation)(text.c_str()); });
}

int32_t rtc_engine_agent::run_set_parameters(command_call& call) {
    return pass_text_member(call, "parameters", &IRtcEngine::setParameters);
}

int32_t rtc_engine_agent::run_set_encryption_mode(command_call& call) {
    return pass_text_member(call, "mode", &IRtcEngine::setEncryptionMode);
}

int32_t rtc_engine_agent::run_set_encryption_secret(command_call& call) {
    return pass_text_member(call, "secret", &IRtcEngine::setEncryptionSecret);
}

int32_t rtc_engine_agent::run_set_channel_profile(command_call& call) {
    const std::string name = call.message.getString("profile", "");
    kelvo::rtc::CHANNEL_PROFILE_TYPE profile;
    if (name == "communication") {
        profile = kelvo::rtc::CHANNEL_PROFILE_COMMUNICATION;
    } else if (name == "live-broadcasting") {
        profile = kelvo::rtc::CHANNEL_PROFILE_LIVE_BROADCASTING;
    } else {
        return result::invalid_request;
    }
    return with_engine([&](IRtcEngine& engine) { return engine.setChannelProfile(profile); });
}

int32_t rtc_engine_agent::run_set_client_role(command_call& call) {
    const std::string name = call.message.getString("role", "");
    const std::string key = call.message.getString("key", "");
    kelvo::rtc::CLIENT_ROLE_TYPE role;
    if (name == "broadcaster") {
        role = kelvo::rtc::CLIENT_ROLE_BROADCASTER;
    } else if (name == "audience") {
        role = kelvo::rtc::CLIENT_ROLE_AUDIENCE;
    } else {
        return result::invalid_request;
    }
    return with_engine([&](IRtcEngine& engine) { return engine.setClientRole(role, key.c_str()); });
}

int32_t rtc_engine_agent::run_enable_dual_stream_mode(command_call& call) {
    bool enabled = false;
    if (!read_required_bool(call.message, "enabled", enabled)) return result::invalid_request;
    return with_parameters([&](kelvo::rtc::IRtcEngineParameter& parameters) {
        return parameters.setBool("rtc.dual_stream_mode", enabled);
    });
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
