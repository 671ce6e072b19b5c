#include "platform/file_lock.h"

#include <windows.h>

#include "platform/win/wide_text.h"

namespace kelvo {
namespace rtc {
namespace web {

// LockFileEx locks belong to the handle, so every holder opens the file for itself: holders in
// one process exclude each other as holders in different processes do.
platform_file_lock::platform_file_lock(const std::string& path) {
    const std::wstring wide = wide_from_utf8(path);
    if (wide.empty()) return;
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    OVERLAPPED whole_file{};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole_file)) {
        CloseHandle(file);
        return;
    }
    file_ = reinterpret_cast<intptr_t>(file);
}

// Closing the handle releases its lock.
platform_file_lock::~platform_file_lock() {
    if (held()) CloseHandle(reinterpret_cast<HANDLE>(file_));
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
