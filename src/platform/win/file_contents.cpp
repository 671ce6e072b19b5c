#include "platform/file_contents.h"

#include <cstdio>

#include "platform/win/wide_text.h"

namespace kelvo {
namespace rtc {
namespace web {

std::optional<std::string> platform_read_file(const std::string& path) {
    const std::wstring wide = wide_from_utf8(path);
    if (wide.empty()) return std::nullopt;
    FILE* file = _wfopen(wide.c_str(), L"rb");
    if (file == nullptr) return std::nullopt;
    std::string bytes;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return std::nullopt;
    return bytes;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
