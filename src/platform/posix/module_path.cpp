#include "platform/module_path.h"

#include <unistd.h>

#include <vector>

namespace kelvo {
namespace rtc {
namespace web {

std::string platform_module_directory() {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return std::string();
    const std::string path(buffer.data(), static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string platform_path_in_directory(const std::string& directory, const std::string& file_name) {
    return directory.empty() ? file_name : directory + "/" + file_name;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
