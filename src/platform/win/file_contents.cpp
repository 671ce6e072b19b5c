#include "platform/file_contents.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win/wide_text.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

// A file that another program holds open without allowing deletion (a reader, a virus scanner)
// cannot be replaced until it is closed: such holds last moments, so the move is tried again
// for up to about a second.
bool moveReplacing(const std::wstring& from, const std::wstring& to) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return false;
        Sleep(20);
    }
    return false;
}

bool writeNewFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool done = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                nullptr) &&
                      written == bytes.size() && FlushFileBuffers(file);
    CloseHandle(file);
    return done;
}

}  // namespace

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

// The new file's name holds the process and the thread, so writers that do not lock each other
// out never write into one file together.
bool platform_replace_file_contents(const std::string& path, const std::string& bytes) {
    const std::wstring target = wide_from_utf8(path);
    if (target.empty()) return false;
    const std::wstring temporary = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(GetCurrentThreadId()) + L".tmp";
    if (writeNewFile(temporary, bytes) && moveReplacing(temporary, target)) return true;
    DeleteFileW(temporary.c_str());
    return false;
}

bool platform_rename_file(const std::string& from, const std::string& to) {
    const std::wstring wide_from = wide_from_utf8(from);
    const std::wstring wide_to = wide_from_utf8(to);
    return !wide_from.empty() && !wide_to.empty() && moveReplacing(wide_from, wide_to);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
