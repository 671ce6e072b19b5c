// Shell windows from a process snapshot and the top-level window enumeration.
#include "platform/window_list.h"
#include "platform/win/shell_windows.h"
#include "platform/win/wide_text.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>

namespace kelvo {
namespace rtc {
namespace web {
namespace {

constexpr int title_capacity = 128;  // wide characters, terminator included

// Every process in a snapshot, for the shell rules.
std::vector<process_entry> running_processes() {
    std::vector<process_entry> processes;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        processes.push_back({entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
    }
    CloseHandle(snapshot);
    return processes;
}

struct enumeration {
    std::vector<uint32_t> process_ids;
    std::vector<shell_window> windows;
};

BOOL CALLBACK list_window(HWND window, LPARAM context) {
    enumeration& state = *reinterpret_cast<enumeration*>(context);
    const auto style = static_cast<uint32_t>(GetWindowLongW(window, GWL_STYLE));
    if (!is_shareable_window(style, IsIconic(window) != FALSE)) return TRUE;
    wchar_t title[title_capacity] = {};
    const int length = GetWindowTextW(window, title, title_capacity);
    if (length <= 0) return TRUE;
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    if (std::find(state.process_ids.begin(), state.process_ids.end(), process_id) ==
        state.process_ids.end()) {
        return TRUE;
    }
    std::string utf8 = utf8_from_wide(title, length);
    if (!utf8.empty()) {
        state.windows.push_back({reinterpret_cast<intptr_t>(window), std::move(utf8)});
    }
    return TRUE;  // always on to the last window
}

}  // namespace

std::vector<uint32_t> shell_process_ids(const std::vector<process_entry>& processes) {
    std::vector<uint32_t> explorers;
    for (const process_entry& process : processes) {
        if (process.executable == L"explorer.exe") explorers.push_back(process.id);
    }
    std::vector<uint32_t> ids = explorers;
    for (const process_entry& process : processes) {
        if (std::find(explorers.begin(), explorers.end(), process.parent) != explorers.end()) {
            ids.push_back(process.id);
        }
    }
    return ids;
}

bool is_shareable_window(uint32_t style, bool minimised) {
    return (style & WS_VISIBLE) != 0 && (style & (WS_POPUP | WS_SYSMENU)) != 0 && !minimised;
}

intptr_t platform_desktop_window() { return reinterpret_cast<intptr_t>(GetDesktopWindow()); }

std::vector<shell_window> platform_shell_windows() {
    enumeration state;
    state.process_ids = shell_process_ids(running_processes());
    if (state.process_ids.empty()) return {};
    EnumWindows(list_window, reinterpret_cast<LPARAM>(&state));
    return std::move(state.windows);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
