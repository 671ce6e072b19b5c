#include "platform/dynamic_library.h"

#include <dlfcn.h>

namespace kelvo {
namespace rtc {
namespace web {

std::string platform_shared_library_name(const std::string& base) { return "lib" + base + ".so"; }

void* platform_load_library(const std::string& path) {
    // An empty name would stand for the running program itself.
    if (path.empty()) return nullptr;
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* platform_library_symbol(void* library, const char* name) {
    return library ? dlsym(library, name) : nullptr;
}

void platform_free_library(void* library) {
    if (library) dlclose(library);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
