#include "platform/file_writing.h"

#include <windows.h>

#include <vector>

#include "platform/win/wide_text.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

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

// A reader (the running agent at a handshake, a virus scanner) that holds the old file open
// without allowing its deletion keeps it from being replaced for a moment: the move is tried
// again for up to about a second. A moved file keeps its own access list.
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

}  // namespace

bool platform_write_file(const std::string& path, const std::string& bytes,
                         file_readers readers) {
    const std::wstring target = wide_from_utf8(path);
    if (target.empty()) return false;
    user_only_descriptor user_only;
    SECURITY_ATTRIBUTES* attributes = nullptr;
    if (readers == file_readers::user_only) {
        attributes = user_only.attributes();
        if (attributes == nullptr) return false;
    }
    const std::wstring temporary =
        target + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    if (writeNewFile(temporary, bytes, attributes) && moveReplacing(temporary, target)) return true;
    DeleteFileW(temporary.c_str());
    return false;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
