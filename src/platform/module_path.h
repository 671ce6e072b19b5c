// Where the running program lives.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// The folder of the running executable in UTF-8, without a trailing separator; empty when
// unknown or when the path holds no separator.
std::string platform_module_directory();

// The folder joined with a file name by the platform's path separator; the bare name for an
// empty folder.
std::string platform_path_in_directory(const std::string& directory, const std::string& file_name);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
