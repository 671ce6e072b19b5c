#include "app/certificate_trust_win.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <ctime>
#include <optional>
#include <vector>

#include "app/certificate_switch.h"
#include "net/certificate_renewal.h"
#include "net/tls_certificate.h"
#include "platform/file_contents.h"
#include "platform/module_path.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

const wchar_t record_key[] = L"Software\\Kelvo Web Agent";
const wchar_t record_value[] = L"TrustedCertificate";
// How the certificate is listed in the system's certificate manager.
const wchar_t friendly_name[] = L"Kelvo Web Agent (this computer)";
constexpr DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr size_t thumbprint_size = 20;

class certificate_context {
public:
    explicit certificate_context(PCCERT_CONTEXT context = nullptr) : context_(context) {}
    ~certificate_context() {
        if (context_ != nullptr) CertFreeCertificateContext(context_);
    }
    certificate_context(const certificate_context&) = delete;
    certificate_context& operator=(const certificate_context&) = delete;
    PCCERT_CONTEXT get() const { return context_; }
    // For calls that free the context themselves.
    PCCERT_CONTEXT release() {
        PCCERT_CONTEXT context = context_;
        context_ = nullptr;
        return context;
    }

private:
    PCCERT_CONTEXT context_;
};

// The user's own "Trusted Root Certification Authorities": the registry store that keeps what
// this user trusts, not the system store of that name, which shows the machine's roots beside
// them and through which a deletion does not reach the registry everywhere (Wine).
class user_root_store {
public:
    user_root_store()
        : store_(CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                               CERT_SYSTEM_STORE_CURRENT_USER, L"Root")) {}
    ~user_root_store() {
        if (store_ != nullptr) CertCloseStore(store_, 0);
    }
    user_root_store(const user_root_store&) = delete;
    user_root_store& operator=(const user_root_store&) = delete;
    HCERTSTORE get() const { return store_; }

    certificate_context find(const std::vector<BYTE>& thumbprint) const {
        CRYPT_HASH_BLOB hash{static_cast<DWORD>(thumbprint.size()),
                             const_cast<BYTE*>(thumbprint.data())};
        return certificate_context(CertFindCertificateInStore(store_, encoding, 0,
                                                              CERT_FIND_SHA1_HASH, &hash, nullptr));
    }

private:
    HCERTSTORE store_;
};

std::string hex_of(const std::vector<BYTE>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (BYTE byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

std::vector<BYTE> bytes_of_hex(const std::wstring& text) {
    std::vector<BYTE> bytes;
    auto digit = [](wchar_t c) {
        return c >= L'0' && c <= L'9' ? c - L'0' : c >= L'A' && c <= L'F' ? c - L'A' + 10 : -1;
    };
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        const int high = digit(text[i]);
        const int low = digit(text[i + 1]);
        if (high < 0 || low < 0) return {};
        bytes.push_back(static_cast<BYTE>(high * 16 + low));
    }
    return bytes.size() == thumbprint_size ? bytes : std::vector<BYTE>();
}

// The certificate that the chain file's text `pem` holds.
certificate_context certificate_of(const std::string& pem) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
        return certificate_context();
    }
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()),
                              CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) {
        return certificate_context();
    }
    return certificate_context(CertCreateCertificateContext(encoding, der.data(), size));
}

std::vector<BYTE> thumbprint_of(PCCERT_CONTEXT certificate) {
    std::vector<BYTE> thumbprint(thumbprint_size);
    DWORD size = static_cast<DWORD>(thumbprint.size());
    if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, thumbprint.data(),
                                           &size) ||
        size != thumbprint_size) {
        return {};
    }
    return thumbprint;
}

std::vector<BYTE> recorded_thumbprint() {
    wchar_t text[2 * thumbprint_size + 1] = {};
    DWORD size = sizeof text;
    if (RegGetValueW(HKEY_CURRENT_USER, record_key, record_value, RRF_RT_REG_SZ, nullptr, text,
                     &size) != ERROR_SUCCESS) {
        return {};
    }
    return bytes_of_hex(text);
}

bool record(const std::vector<BYTE>& thumbprint) {
    const std::string hex = hex_of(thumbprint);
    const std::wstring text(hex.begin(), hex.end());
    return RegSetKeyValueW(HKEY_CURRENT_USER, record_key, record_value, REG_SZ, text.c_str(),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) ==
           ERROR_SUCCESS;
}

void forget_record() {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, record_key, record_value);
}

// True when the certificate is not (or no longer) in the store.
bool remove(const user_root_store& store, const std::vector<BYTE>& thumbprint) {
    certificate_context found = store.find(thumbprint);
    return found.get() == nullptr || CertDeleteCertificateFromStore(found.release());
}

int failed(const char* what, DWORD error) {
    std::fprintf(stderr, "kelvo_web_agent: %s (error %lu)\n", what, error);
    return switch_failed;
}

}  // namespace

int trust_certificate(const std::string& program_dir) {
    const std::string path = platform_path_in_directory(program_dir, certificate_chain_file_name);
    // The bytes that were inspected are the ones trusted: the file may change meanwhile.
    const std::optional<std::string> pem = platform_read_file(path);
    const certificate_pair_state found =
        inspect_certificate_pair(
            pem, platform_read_file(platform_path_in_directory(program_dir, private_key_file_name)),
            std::time(nullptr))
            .state;
    // Only a pair this program made, whose key is beside it, is trusted: the store trusts
    // whatever it holds to vouch for any site.
    const bool own = found == certificate_pair_state::good ||
                     found == certificate_pair_state::expiring;
    certificate_context certificate = own ? certificate_of(*pem) : certificate_context();
    if (certificate.get() == nullptr) {
        std::fprintf(stderr,
                     "kelvo_web_agent: no certificate made by this program in %s to trust (make "
                     "one with -make-certificate)\n",
                     path.c_str());
        return switch_failed;
    }
    const std::vector<BYTE> thumbprint = thumbprint_of(certificate.get());
    user_root_store store;
    if (thumbprint.empty() || store.get() == nullptr) {
        return failed("cannot open this user's trusted root certificates", GetLastError());
    }
    const bool present = store.find(thumbprint).get() != nullptr;
    if (!present) {
        CRYPT_DATA_BLOB name{static_cast<DWORD>(sizeof friendly_name),
                             reinterpret_cast<BYTE*>(const_cast<wchar_t*>(friendly_name))};
        CertSetCertificateContextProperty(certificate.get(), CERT_FRIENDLY_NAME_PROP_ID, 0, &name);
        // Windows asks the user here; a refusal comes back as a failure.
        if (!CertAddCertificateContextToStore(store.get(), certificate.get(), CERT_STORE_ADD_NEW,
                                              nullptr)) {
            return failed("the certificate was not added to this user's trusted root certificates",
                          GetLastError());
        }
    }
    const std::vector<BYTE> before = recorded_thumbprint();
    if (!before.empty() && before != thumbprint && !remove(store, before)) {
        std::fprintf(stderr, "kelvo_web_agent: the certificate trusted before (%s) stays trusted "
                             "(error %lu)\n", hex_of(before).c_str(), GetLastError());
    }
    if (!record(thumbprint)) return failed("cannot note the trusted certificate", GetLastError());
    std::printf("kelvo_web_agent: this user trusts the certificate in %s (SHA-1 %s)%s\n",
                program_dir.c_str(), hex_of(thumbprint).c_str(), present ? ", as before" : "");
    return switch_done;
}

int untrust_certificate() {
    const std::vector<BYTE> thumbprint = recorded_thumbprint();
    if (thumbprint.empty()) {
        std::printf("kelvo_web_agent: no certificate of ours is trusted; nothing to remove\n");
        return switch_done;
    }
    user_root_store store;
    if (store.get() == nullptr || !remove(store, thumbprint)) {
        return failed("cannot remove the certificate from this user's trusted roots",
                      GetLastError());
    }
    forget_record();
    std::printf("kelvo_web_agent: removed the certificate %s from this user's trusted roots\n",
                hex_of(thumbprint).c_str());
    return switch_done;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
