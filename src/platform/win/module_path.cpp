#include "platform/module_path.h"

#include <windows.h>

namespace kelvo {
namespace rtc {
namespace web {

std::string platform_module_directory() {
    char buffer[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    const std::string path(buffer, length);
    const size_t backslash = path.rfind('\\');
    return backslash == std::string::npos ? std::string() : path.substr(0, backslash);
}

std::string platform_path_in_directory(const std::string& directory, const std::string& file_name) {
    return directory.empty() ? file_name : directory + "\\" + file_name;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
