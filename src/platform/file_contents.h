// Reading files named by UTF-8 paths.
#pragma once

#include <optional>
#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// The bytes of the file at `path` (UTF-8, whatever the system's code page, so a folder name in
// any script works); none when it cannot be opened or read.
std::optional<std::string> platform_read_file(const std::string& path);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
