#include "app/installation_switches_win.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "app/certificate_switch.h"
#include "app/certificate_trust_win.h"
#include "platform/module_path.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

bool is(const wchar_t* command_line, const wchar_t* name) {
    return command_line != nullptr && std::wcscmp(command_line, name) == 0;
}

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
    const std::wstring make_certificate(make_certificate_switch,
                                        make_certificate_switch + std::strlen(make_certificate_switch));
    int code;
    if (is(command_line, make_certificate.c_str())) {
        write_to_starting_console();
        code = make_certificate_pair(platform_module_directory());
    } else if (is(command_line, trust_certificate_switch)) {
        write_to_starting_console();
        code = trust_certificate(platform_module_directory());
    } else if (is(command_line, untrust_certificate_switch)) {
        write_to_starting_console();
        code = untrust_certificate();
    } else {
        return std::nullopt;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    return code;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
