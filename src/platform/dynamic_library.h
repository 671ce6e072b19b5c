// Loading a shared library at run time and looking up its exported functions.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// The operating system's file name of the shared library called `base`
// ("lib<base>.so" on Linux, "<base>.dll" on Windows).
std::string platform_shared_library_name(const std::string& base);

// Loads the library named by `path` (UTF-8: a full path, or a plain name searched the system's
// way); null when it cannot be loaded.
void* platform_load_library(const std::string& path);

// The address of the exported symbol `name`, or null.
void* platform_library_symbol(void* library, const char* name);

// Frees a library returned by platform_load_library; null is ignored.
void platform_free_library(void* library);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
