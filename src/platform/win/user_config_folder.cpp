#include "platform/user_config_folder.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include "platform/win/wide_text.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

const wchar_t folder_name[] = L"Kelvo Web Agent";

// The variable first, as the system sets it from the known folder: a test (or an administrator)
// may point it elsewhere.
std::wstring roamingAppData() {
    const DWORD size = GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
    if (size > 1) {
        std::wstring value(size, L'\0');
        const DWORD length = GetEnvironmentVariableW(L"APPDATA", &value[0], size);
        if (length > 0 && length < size) return value.substr(0, length);
    }
    PWSTR known = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &known))) {
        folder = known;
    }
    CoTaskMemFree(known);
    return folder;
}

}  // namespace

std::string platform_user_config_folder() {
    const std::wstring settings = roamingAppData();
    if (settings.empty()) return std::string();
    std::wstring folder = settings;
    if (folder.back() != L'\\') folder += L'\\';
    folder += folder_name;
    // The roaming folder exists for every user; only ours may be missing.
    CreateDirectoryW(folder.c_str(), nullptr);
    return utf8_from_wide(folder.c_str(), static_cast<int>(folder.size()));
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
