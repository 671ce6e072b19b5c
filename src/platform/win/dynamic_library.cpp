#include "platform/dynamic_library.h"

#include <windows.h>

#include "platform/win/wide_text.h"

namespace kelvo {
namespace rtc {
namespace web {

std::string platform_shared_library_name(const std::string& base) { return base + ".dll"; }

void* platform_load_library(const std::string& path) {
    const std::wstring wide = wide_from_utf8(path);
    // An empty name would stand for the running program itself.
    if (wide.empty()) return nullptr;
    return reinterpret_cast<void*>(LoadLibraryW(wide.c_str()));
}

void* platform_library_symbol(void* library, const char* name) {
    if (!library) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void platform_free_library(void* library) {
    if (library) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
