// Listing the windows that can be shared, and choosing one for screen sharing.
#include <websocketpp/base64/base64.hpp>

#include "agent/rtc_engine_agent.h"
#include "agent/utf8_prefix.h"
#include "base/clock.h"
#include "platform/window_list.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

using kelvo::rtc::IRtcEngineParameter;

// Titles travel in a buffer of 128 bytes, terminator included.
constexpr size_t max_title_bytes = 127;

}  // namespace

int32_t rtc_engine_agent::getWindows(JsonValue& list) {
    return with_engine([&](kelvo::rtc::IRtcEngine&) {
        list.makeArray();
        window_table_.clear();
        const auto append = [&](intptr_t handle, const std::string& title) {
            const std::string id = newUniqueId();
            window_table_[id] = handle;
            JsonValue entry;
            entry.makeObject();
            entry.setString("windowId", id.c_str());
            entry.setString("title", websocketpp::base64_encode(title).c_str());
            list.append(entry.release());
        };
        append(platform_desktop_window(), "Screen");
        for (const shell_window& window : platform_shell_windows()) {
            append(window.handle, utf8_prefix(window.title, max_title_bytes));
        }
        return list.size() > 0 ? 0 : -1;
    });
}

int32_t rtc_engine_agent::set_screen_capture_window(const char* key, const std::string& window_id) {
    return with_parameters([&](IRtcEngineParameter& parameters) {
        const auto found = window_table_.find(window_id);
        const intptr_t handle = found != window_table_.end() ? found->second : 0;
        // The engine takes the handle as a 32-bit value.
        return parameters.setInt(key, static_cast<int32_t>(static_cast<uint32_t>(handle)));
    });
}

int32_t rtc_engine_agent::setScreenSharingWindow(const std::string& window_id) {
    return set_screen_capture_window("che.video.set_screen_capture_window", window_id);
}

int32_t rtc_engine_agent::startScreenSharing(const std::string& window_id) {
    return set_screen_capture_window("che.video.start_screen_capture", window_id);
}

int32_t rtc_engine_agent::stopScreenSharing() {
    return with_parameters([](IRtcEngineParameter& parameters) {
        return parameters.setBool("che.video.stop_screen_capture", true);
    });
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
