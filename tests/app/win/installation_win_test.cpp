// Windows only: what the installer relies on in the program. The trust switches keep exactly one
// certificate of ours among the user's trusted roots, following a renewed certificate; the tray
// menu's "Start at login" turns the user's Run key entry on and off; the serving agent asks
// Windows to start it again after a crash.
#include <winsock2.h>
#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include "app/agent_process.h"
#include "app/crash_restart_win.h"
#include "app/tray_menu_extras_win.h"
#include "platform/file_contents.h"
#include "platform/win/wide_text.h"
#include "support/ws_test_client.h"

namespace kelvo {
namespace test {
namespace {

const wchar_t run_key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t run_entry_name[] = L"Kelvo Web Agent";

std::optional<std::wstring> registry_text(const wchar_t* key, const wchar_t* name) {
    wchar_t text[2048] = {};
    DWORD size = sizeof text;
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, text, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(text);
}

bool registry_key_present(const std::wstring& key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(opened);
    return true;
}

// The SHA-1 thumbprint of the certificate in the chain file, in upper-case hexadecimal, as the
// user's registry store names its key.
std::wstring thumbprint(const std::string& chain_path) {
    const std::string pem = rtc::web::platform_read_file(chain_path).value_or("");
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    std::unique_ptr<X509, decltype(&X509_free)> certificate(
        PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
    unsigned char digest[EVP_MAX_MD_SIZE] = {};
    unsigned int length = 0;
    if (!certificate || X509_digest(certificate.get(), EVP_sha1(), digest, &length) != 1) {
        return L"";
    }
    std::wstring text;
    for (unsigned int i = 0; i < length; ++i) {
        wchar_t pair[3] = {};
        swprintf(pair, 3, L"%02X", digest[i]);
        text += pair;
    }
    return text;
}

bool trusted(const std::wstring& thumbprint) {
    return !thumbprint.empty() &&
           registry_key_present(
               L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" + thumbprint);
}

class installation_win_test : public ::testing::Test {
protected:
    installation_win_test() { setup = setup_on_free_ports(folder.path()); }

    std::optional<int> run_switch(const char* name) {
        return agent_process(setup, {name}).wait_exit();
    }

    agent_test_turn turn;
    temporary_folder folder;
    agent_setup setup;
};

TEST_F(installation_win_test, trust_follows_a_renewed_certificate_and_untrust_removes_exactly_it) {
    const std::string installed = folder.path() + "\\installed";
    setup.program = install_agent_copy(installed);
    ASSERT_FALSE(setup.program.empty());
    const std::string chain = installed + "\\kelvo_cert_chain.pem";
    const std::wstring tomorrow = thumbprint(chain);
    ASSERT_EQ(run_switch("-trust-certificate"), 0);
    EXPECT_TRUE(trusted(tomorrow));
    EXPECT_EQ(run_switch("-trust-certificate"), 0);

    // The pair ends tomorrow: a new one replaces it, and the trust follows.
    ASSERT_EQ(run_switch("-make-certificate"), 0);
    const std::wstring renewed = thumbprint(chain);
    ASSERT_NE(renewed, tomorrow);
    ASSERT_EQ(run_switch("-trust-certificate"), 0);
    EXPECT_TRUE(trusted(renewed));
    EXPECT_FALSE(trusted(tomorrow));

    EXPECT_EQ(run_switch("-untrust-certificate"), 0);
    EXPECT_FALSE(trusted(renewed));
    EXPECT_FALSE(registry_text(L"Software\\Kelvo Web Agent", L"TrustedCertificate"));
    EXPECT_EQ(run_switch("-untrust-certificate"), 0);
}

TEST_F(installation_win_test, start_at_login_turns_the_run_key_entry_on_and_off) {
    const std::optional<std::wstring> users_entry = registry_text(run_key, run_entry_name);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, run_key, run_entry_name);
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    HWND window = FindWindowW(L"Kelvo Web Agent", nullptr);
    const std::wstring started = L"\"" + rtc::web::wide_from_utf8(agent_program_path()) + L"\"";

    PostMessageW(window, WM_COMMAND, rtc::web::start_at_login_command, 0);
    EXPECT_TRUE(wait_until([&] { return registry_text(run_key, run_entry_name) == started; }));
    PostMessageW(window, WM_COMMAND, rtc::web::start_at_login_command, 0);
    EXPECT_TRUE(wait_until([&] { return !registry_text(run_key, run_entry_name); }));

    EXPECT_EQ(agent_process(setup, {"-kill"}).wait_exit(), 0);
    EXPECT_EQ(instance.wait_exit(), 0);
    if (users_entry) {
        RegSetKeyValueW(HKEY_CURRENT_USER, run_key, run_entry_name, REG_SZ, users_entry->c_str(),
                        static_cast<DWORD>((users_entry->size() + 1) * sizeof(wchar_t)));
    }
}

// Windows tells a process's restart registration to whoever may read the process. Wine takes a
// registration but cannot tell it (E_NOTIMPL) and never restarts a program: there only the
// registration's own result is checked (a restart after a crash is tried on Windows by hand).
TEST_F(installation_win_test, the_serving_agent_asks_windows_to_start_it_again_after_a_crash) {
    EXPECT_TRUE(rtc::web::register_crash_restart());
    UnregisterApplicationRestart();

    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                 static_cast<DWORD>(instance.id()));
    ASSERT_NE(process, nullptr);
    wchar_t command[RESTART_MAX_CMD_LINE] = {};
    DWORD size = RESTART_MAX_CMD_LINE;
    DWORD flags = 0;
    const HRESULT asked = GetApplicationRestartSettings(process, command, &size, &flags);
    CloseHandle(process);
    if (asked != E_NOTIMPL) {
        EXPECT_EQ(asked, S_OK);
        EXPECT_EQ(std::wstring(command), L"");
        EXPECT_EQ(flags, static_cast<DWORD>(RESTART_NO_REBOOT));
    }
    EXPECT_EQ(agent_process(setup, {"-kill"}).wait_exit(), 0);
    EXPECT_EQ(instance.wait_exit(), 0);
}

}  // namespace
}  // namespace test
}  // namespace kelvo
