#include "app/installation_switches_win.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>

#include "app/certificate_switch.h"
#include "app/certificate_trust_win.h"
#include "platform/module_path.h"
#include "platform/win/wide_text.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

// A program without a console writes to the console it was started from, if any, unless its
// standard output already goes somewhere (a pipe of the installer, a file).
void write_to_starting_console() {
    if (GetStdHandle(STD_OUTPUT_HANDLE) != nullptr || !AttachConsole(ATTACH_PARENT_PROCESS)) {
        return;
    }
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
}

}  // namespace

std::optional<int> run_installation_switch(const wchar_t* command_line) {
    const std::string words =
        command_line == nullptr
            ? std::string()
            : utf8_from_wide(command_line, static_cast<int>(std::wcslen(command_line)));
    std::function<int()> run;
    if (words == make_certificate_switch) {
        run = [] { return make_certificate_pair(platform_module_directory()); };
    } else if (words == trust_certificate_switch) {
        run = [] { return trust_certificate(platform_module_directory()); };
    } else if (words == untrust_certificate_switch) {
        run = [] { return untrust_certificate(); };
    } else {
        return std::nullopt;
    }
    write_to_starting_console();
    const int code = run();
    std::fflush(stdout);
    std::fflush(stderr);
    return code;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
