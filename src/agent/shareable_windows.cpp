#include "agent/shareable_windows.h"

#include <websocketpp/base64/base64.hpp>

#include "agent/utf8_prefix.h"
#include "base/clock.h"
#include "platform/window_list.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

// Titles travel in a buffer of 128 bytes, terminator included.
constexpr size_t max_title_bytes = 127;

}  // namespace

void shareable_windows::list(JsonValue& list) {
    list.makeArray();
    handles_.clear();
    const auto append = [&](intptr_t handle, const std::string& title) {
        const std::string id = newUniqueId();
        handles_[id] = handle;
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
}

intptr_t shareable_windows::handle_of(const std::string& window_id) const {
    const auto found = handles_.find(window_id);
    return found != handles_.end() ? found->second : 0;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
