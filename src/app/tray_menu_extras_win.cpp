#include "app/tray_menu_extras_win.h"

#include <vector>

#include "agent/engine_library.h"
#include "app/login_start_win.h"
#include "app/win/resource.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

std::wstring wide_from_ansi(const char* text) {
    const int size = text == nullptr ? 0 : MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (size <= 1) return std::wstring();
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], size);
    wide.resize(static_cast<size_t>(size) - 1);
    return wide;
}

std::wstring program_path() {
    std::vector<wchar_t> path(32768);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return std::wstring(path.data(), length < path.size() ? length : 0);
}

}  // namespace

std::wstring tray_about_text(const char* engine_version) {
    const std::wstring engine = wide_from_ansi(engine_version);
    return L"Kelvo Web Agent " KELVO_AGENT_VERSION L", " +
           (engine.empty() ? std::wstring(L"no engine library") : L"engine " + engine);
}

void prepare_tray_menu(HMENU popup) {
    if (GetMenuState(popup, start_at_login_command, MF_BYCOMMAND) == static_cast<UINT>(-1)) {
        const std::wstring about = tray_about_text(engine_library::instance().version());
        InsertMenuW(popup, 0, MF_BYPOSITION | MF_STRING | MF_GRAYED, about_command, about.c_str());
        InsertMenuW(popup, 1, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
        InsertMenuW(popup, IDM_QUIT, MF_BYCOMMAND | MF_STRING, start_at_login_command,
                    L"Start at &login");
    }
    CheckMenuItem(popup, start_at_login_command,
                  MF_BYCOMMAND | (starts_at_login() ? MF_CHECKED : MF_UNCHECKED));
}

bool run_tray_menu_command(UINT command) {
    if (command != start_at_login_command) return false;
    const std::wstring program = program_path();
    if (!program.empty()) set_start_at_login(!starts_at_login(), program);
    return true;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
