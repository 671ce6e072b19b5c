#include "app/login_start_win.h"

#include <windows.h>

namespace kelvo {
namespace rtc {
namespace web {

namespace {

const wchar_t run_key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t entry_name[] = L"Kelvo Web Agent";

}  // namespace

bool starts_at_login() {
    return RegGetValueW(HKEY_CURRENT_USER, run_key, entry_name, RRF_RT_REG_SZ, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

bool set_start_at_login(bool start, const std::wstring& program) {
    if (!start) {
        const LSTATUS removed = RegDeleteKeyValueW(HKEY_CURRENT_USER, run_key, entry_name);
        return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
    }
    // Quoted: the programs folder's path has blanks.
    const std::wstring command = L"\"" + program + L"\"";
    return RegSetKeyValueW(HKEY_CURRENT_USER, run_key, entry_name, REG_SZ, command.c_str(),
                           static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))) ==
           ERROR_SUCCESS;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
