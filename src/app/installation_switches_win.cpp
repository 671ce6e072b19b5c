#include "app/installation_switches_win.h"

#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>

#include "app/certificate_switch.h"
#include "app/certificate_trust_win.h"
#include "app/starting_console_win.h"
#include "platform/module_path.h"
#include "platform/win/wide_text.h"

namespace kelvo {
namespace rtc {
namespace web {

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

std::vector<switch_usage> windows_switch_usage() {
    return {{trust_certificate_switch,
             "trusts that certificate for this user (Windows asks to confirm it)"},
            {untrust_certificate_switch, "removes the certificate it trusted"}};
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
