#include "platform/file_contents.h"

#include <windows.h>

#include <string>
#include <vector>

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

// A security descriptor whose access list grants the user running the program full access and
// nobody else anything, inherited permissions of the folder included.
class user_only_descriptor {
public:
    user_only_descriptor() {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        user_.resize(size);
        const bool have_user =
            size > 0 && GetTokenInformation(token, TokenUser, user_.data(), size, &size);
        CloseHandle(token);
        if (!have_user) return;
        PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
        acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
        auto* acl = reinterpret_cast<ACL*>(acl_.data());
        ready_ = InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
                 AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
                 InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
                 SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
                 SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        attributes_.nLength = sizeof(attributes_);
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
    }

    // Null when the descriptor could not be made: such a file must not be written.
    SECURITY_ATTRIBUTES* attributes() { return ready_ ? &attributes_ : nullptr; }

private:
    std::vector<unsigned char> user_;
    std::vector<unsigned char> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ready_ = false;
};

bool writeNewFile(const std::wstring& path, const std::string& bytes,
                  SECURITY_ATTRIBUTES* attributes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, attributes, CREATE_ALWAYS,
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

namespace {

file_read unreadable_because(DWORD error) {
    return {file_read::unreadable, std::string(), "error " + std::to_string(error)};
}

}  // namespace

// Others may go on reading, writing and replacing the file meanwhile, as they could while it
// was read through the C library before.
file_read platform_read_file_or_why(const std::string& path) {
    const std::wstring wide = wide_from_utf8(path);
    if (wide.empty()) return unreadable_because(ERROR_INVALID_NAME);
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return file_read();
        return unreadable_because(error);
    }
    file_read result;
    result.outcome = file_read::read;
    char buffer[16384];
    DWORD length = 0;
    for (;;) {
        if (!ReadFile(file, buffer, sizeof buffer, &length, nullptr)) {
            result = unreadable_because(GetLastError());
            break;
        }
        if (length == 0) break;
        result.bytes.append(buffer, length);
    }
    CloseHandle(file);
    return result;
}

namespace {

// The new file's name holds the process and the thread, so writers that do not lock each other
// out never write into one file together. A moved file keeps its own access list.
bool replaceWith(const std::string& path, const std::string& bytes,
                 SECURITY_ATTRIBUTES* attributes) {
    const std::wstring target = wide_from_utf8(path);
    if (target.empty()) return false;
    const std::wstring temporary = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(GetCurrentThreadId()) + L".tmp";
    if (writeNewFile(temporary, bytes, attributes) && moveReplacing(temporary, target)) return true;
    DeleteFileW(temporary.c_str());
    return false;
}

}  // namespace

bool platform_replace_file_contents(const std::string& path, const std::string& bytes) {
    return replaceWith(path, bytes, nullptr);
}

bool platform_replace_private_file(const std::string& path, const std::string& bytes) {
    user_only_descriptor user_only;
    return user_only.attributes() != nullptr && replaceWith(path, bytes, user_only.attributes());
}

std::string platform_link_target(const std::string& path) {
    const std::wstring wide = wide_from_utf8(path);
    const DWORD attributes = wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return path;
    }
    HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::wstring target(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(file, &target[0], static_cast<DWORD>(target.size()),
                                             FILE_NAME_NORMALIZED);
    if (length >= target.size()) {
        target.resize(length + 1);
        length = GetFinalPathNameByHandleW(file, &target[0], static_cast<DWORD>(target.size()),
                                           FILE_NAME_NORMALIZED);
    }
    CloseHandle(file);
    if (length == 0 || length >= target.size()) return std::string();
    return utf8_from_wide(target.c_str(), static_cast<int>(length));
}

// Written anew, as platform_replace_private_file writes a new file: the same bytes under a new
// name, with an access list of their own, take the old file's place in one step. (Changing the
// old file's access list in place is not kept as written everywhere: Wine rebuilds it.)
bool platform_make_file_private(const std::string& path) {
    const std::wstring wide = wide_from_utf8(path);
    const DWORD attributes =
        wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        return false;
    }
    const std::optional<std::string> bytes = platform_read_file(path);
    return bytes && platform_replace_private_file(path, *bytes);
}

bool platform_rename_file(const std::string& from, const std::string& to) {
    const std::wstring wide_from = wide_from_utf8(from);
    const std::wstring wide_to = wide_from_utf8(to);
    return !wide_from.empty() && !wide_to.empty() && moveReplacing(wide_from, wide_to);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
