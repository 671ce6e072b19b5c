#include "app/starting_console_win.h"

#include <windows.h>

#include <cstdio>

#include "platform/win/wide_text.h"

namespace kelvo {
namespace rtc {
namespace web {

bool write_to_starting_console() {
    if (GetStdHandle(STD_ERROR_HANDLE) != nullptr) return true;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return false;
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
    return true;
}

void tell_starter(const std::string& text, bool error) {
    if (write_to_starting_console()) {
        std::FILE* stream = error ? stderr : stdout;
        std::fputs(text.c_str(), stream);
        std::fflush(stream);
        return;
    }
    std::string shown = text;
    while (!shown.empty() && shown.back() == '\n') shown.pop_back();
    MessageBoxW(nullptr, wide_from_utf8(shown).c_str(), L"Kelvo Web Agent",
                MB_OK | (error ? MB_ICONWARNING : MB_ICONINFORMATION));
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
