#include "platform/file_contents.h"

#include <fstream>
#include <iterator>

namespace kelvo {
namespace rtc {
namespace web {

std::optional<std::string> platform_read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) return std::nullopt;
    return bytes;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
