#include "platform/module_path.h"

#include <windows.h>

#include <vector>

#include "platform/win/wide_text.h"

namespace kelvo {
namespace rtc {
namespace web {

// The wide name: the narrow one replaces every character outside the ANSI code page (a user
// name in another script) with '?', and such a folder cannot be opened.
std::string platform_module_directory() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::string();
        if (length < buffer.size()) {
            const std::string path = utf8_from_wide(buffer.data(), static_cast<int>(length));
            const size_t backslash = path.rfind('\\');
            return backslash == std::string::npos ? std::string() : path.substr(0, backslash);
        }
        // Cut to fit: a longer buffer for a long path.
        if (buffer.size() >= 32768) return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

std::string platform_path_in_directory(const std::string& directory, const std::string& file_name) {
    return directory.empty() ? file_name : directory + "\\" + file_name;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
