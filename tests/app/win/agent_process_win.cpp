// Child processes, the control window and port reservation on Windows.
#include "app/agent_process.h"

#include <winsock2.h>
#include <windows.h>
#include <aclapi.h>

#include <vector>

#include <gtest/gtest.h>

#include "platform/win/wide_text.h"

namespace kelvo {
namespace test {

namespace {

const wchar_t window_class[] = L"Kelvo Web Agent";

// The agent inherits the test's environment: its settings are put there before each start.
void setVariable(const wchar_t* name, const std::string& value) {
    const std::wstring wide = rtc::web::wide_from_utf8(value);
    SetEnvironmentVariableW(name, wide.empty() ? nullptr : wide.c_str());
}

std::string configFolder(const agent_setup& setup) {
    return setup.config_folder.empty() ? setup.runtime_folder : setup.config_folder;
}

// A file the agent writes its standard output or error to: a handle it may inherit.
HANDLE outputFile(const std::string& path) {
    if (path.empty()) return nullptr;
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE file = CreateFileW(rtc::web::wide_from_utf8(path).c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << "cannot make " << path;
    return file != INVALID_HANDLE_VALUE ? file : nullptr;
}

// The agent inherits its two output files and nothing else: the test's sockets are inheritable
// too, and an agent holding one would keep a connection or a port of the test open.
class inherited_outputs {
public:
    inherited_outputs(HANDLE output, HANDLE errors) : handles_{output, errors} {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        list_.resize(size);
        startup_.StartupInfo.cb = sizeof(startup_.StartupInfo);
        if (output == nullptr || errors == nullptr) return;
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_.data());
        listed_ = InitializeProcThreadAttributeList(list, 1, 0, &size);
        ready_ = listed_ &&
                 UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_,
                                           sizeof(handles_), nullptr, nullptr);
        EXPECT_TRUE(ready_) << "no handle list for the agent: error " << GetLastError();
        if (!ready_) return;
        startup_.lpAttributeList = list;
        startup_.StartupInfo.cb = sizeof(startup_);
        startup_.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup_.StartupInfo.hStdOutput = output;
        startup_.StartupInfo.hStdError = errors;
    }
    ~inherited_outputs() {
        if (listed_) {
            DeleteProcThreadAttributeList(
                reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_.data()));
        }
        for (HANDLE handle : handles_) {
            if (handle != nullptr) CloseHandle(handle);
        }
    }
    inherited_outputs(const inherited_outputs&) = delete;
    inherited_outputs& operator=(const inherited_outputs&) = delete;

    bool ready() const { return ready_; }
    STARTUPINFOW* startup() { return &startup_.StartupInfo; }

private:
    HANDLE handles_[2];
    std::vector<char> list_;
    STARTUPINFOEXW startup_{};
    bool listed_ = false;
    bool ready_ = false;
};

}  // namespace

struct agent_process::impl {
    PROCESS_INFORMATION process{};
};

agent_process::agent_process(const agent_setup& setup, const std::vector<std::string>& arguments)
    : files_(files_for(setup)), impl_(std::make_unique<impl>()) {
    setVariable(L"KELVO_AGENT_TLS_PORT", setup.tls_port ? std::to_string(setup.tls_port) : "");
    setVariable(L"KELVO_AGENT_PLAIN_PORT",
                setup.plain_port ? std::to_string(setup.plain_port) : "");
    setVariable(L"RIZUDADA_LOG",
                setup.runtime_folder.empty() ? "" : setup.runtime_folder + "\\rizudada.log");
    setVariable(L"APPDATA", configFolder(setup));
    const std::string program = setup.program.empty() ? agent_program_path() : setup.program;
    // The program name, then the arguments joined by single blanks, exactly as given.
    std::string command_line = "\"" + program + "\"";
    for (const auto& argument : arguments) command_line += " " + argument;
    std::wstring wide_command_line = rtc::web::wide_from_utf8(command_line);
    inherited_outputs outputs(outputFile(files_.output), outputFile(files_.errors));
    const BOOL started = CreateProcessW(
        rtc::web::wide_from_utf8(program).c_str(), wide_command_line.data(), nullptr, nullptr,
        outputs.ready(), outputs.ready() ? EXTENDED_STARTUPINFO_PRESENT : 0, nullptr, nullptr,
        outputs.startup(), &impl_->process);
    EXPECT_TRUE(started) << "cannot start " << program << ": error " << GetLastError();
}

agent_process::~agent_process() {
    if (impl_->process.hProcess == nullptr) return;
    if (running()) {
        TerminateProcess(impl_->process.hProcess, 1);
        WaitForSingleObject(impl_->process.hProcess, INFINITE);
    }
    CloseHandle(impl_->process.hThread);
    CloseHandle(impl_->process.hProcess);
}

std::optional<int> agent_process::wait_exit(std::chrono::milliseconds timeout) {
    if (impl_->process.hProcess == nullptr ||
        WaitForSingleObject(impl_->process.hProcess, static_cast<DWORD>(timeout.count())) !=
            WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(impl_->process.hProcess, &code);
    return static_cast<int>(code);
}

bool agent_process::running() {
    return impl_->process.hProcess != nullptr &&
           WaitForSingleObject(impl_->process.hProcess, 0) == WAIT_TIMEOUT;
}

long agent_process::id() const {
    return static_cast<long>(impl_->process.dwProcessId);
}

// Wine keeps no access list of a file: it shows one made from the file's Unix permissions, not
// protected from inheritance, in which the Unix owner (root on the build machines) stands as the
// system account. There the list must still name nobody else, such as Everyone or Users.
bool readable_by_user_only(const std::string& path) {
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(rtc::web::wide_from_utf8(path).c_str(), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr,
                              &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    char user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)] = {};
    DWORD size = sizeof user;
    const bool have_user = GetTokenInformation(token, TokenUser, user, size, &size);
    CloseHandle(token);
    char system[SECURITY_MAX_SID_SIZE] = {};
    size = sizeof system;
    CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size);
    bool only_user = have_user && acl != nullptr && acl->AceCount > 0 &&
                     (wine || (control & SE_DACL_PROTECTED) != 0);
    for (DWORD i = 0; only_user && i < acl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        only_user = GetAce(acl, i, reinterpret_cast<void**>(&ace)) &&
                    ace->AceType == ACCESS_ALLOWED_ACE_TYPE;
        PSID sid = only_user ? &reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart : nullptr;
        only_user = only_user && (EqualSid(sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid) ||
                                  (wine && EqualSid(sid, system)));
    }
    LocalFree(descriptor);
    return only_user;
}

agent_test_turn::agent_test_turn() {
    handle_ = CreateMutexW(nullptr, FALSE, L"KelvoWebAgentTestTurn");
    // An abandoned turn (a test program that crashed) is taken over as well.
    if (handle_ != nullptr) WaitForSingleObject(handle_, INFINITE);
}

agent_test_turn::~agent_test_turn() {
    if (handle_ == nullptr) return;
    ReleaseMutex(handle_);
    CloseHandle(handle_);
}

std::string agent_program_path() {
    char buffer[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    std::string path(buffer, length);
    return path.substr(0, path.rfind('\\') + 1) + "kelvo_web_agent.exe";
}

bool control_window_present(const agent_setup&) {
    return FindWindowW(window_class, nullptr) != nullptr;
}

namespace {

bool postToWindow(UINT message, WPARAM wparam) {
    HWND window = FindWindowW(window_class, nullptr);
    return window != nullptr && PostMessageW(window, message, wparam, 0) != FALSE;
}

}  // namespace

bool post_show_message(const agent_setup&, unsigned show) {
    static const UINT show_message = RegisterWindowMessageW(L"KelvoZuzIrave.ShowTrayIcon.Message");
    return postToWindow(show_message, show);
}

bool post_reload_message(const agent_setup&) {
    static const UINT reload_message = RegisterWindowMessageW(L"KelvoWebAgent.ReloadSites.Message");
    return postToWindow(reload_message, 0);
}

std::string sites_file_path(const agent_setup& setup) {
    return configFolder(setup) + "\\Kelvo Web Agent\\sites.json";
}

}  // namespace test
}  // namespace kelvo
