#include "support/certificate_pair.h"

#include <cstdlib>
#include <memory>
#include <string>

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace kelvo {
namespace test {

// The quoting and redirection work in both the POSIX shell and the Windows command processor.
bool write_certificate_pair(const std::string& folder, const std::string& key_name,
                            const std::string& pass_phrase, int days,
                            const std::string& kind) {
    const std::string key_protection = pass_phrase.empty() ? "-nodes" : "-passout pass:" + pass_phrase;
    const std::string command =
        "openssl req -x509 " + kind + " " + key_protection +
        " -days " + std::to_string(days) + " -subj /CN=127.0.0.1 -keyout \"" + folder + "/" +
        key_name + "\" -out \"" + folder + "/kelvo_cert_chain.pem\" >\"" + folder +
        "/openssl.log\" 2>&1";
    return std::system(command.c_str()) == 0;
}

std::string describe_certificate(const std::string& pem) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    std::unique_ptr<X509, decltype(&X509_free)> certificate(
        bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr, X509_free);
    if (!certificate) return "unreadable";
    std::string text;
    char group[64] = {};
    EVP_PKEY* key = X509_get0_pubkey(certificate.get());
    if (key != nullptr && EVP_PKEY_get_group_name(key, group, sizeof group, nullptr) == 1) {
        text += std::string(EVP_PKEY_get0_type_name(key)) + " " + group;
    }
    text += std::string(", ") + OBJ_nid2ln(X509_get_signature_nid(certificate.get()));
    const uint32_t flags = X509_get_extension_flags(certificate.get());
    text += (flags & EXFLAG_CA) != 0 ? ", a CA" : ", not a CA";
    const uint32_t usages = X509_get_extended_key_usage(certificate.get());
    text += usages == XKU_SSL_SERVER ? ", serverAuth only" : ", other usages";
    int days = 0;
    int seconds = 0;
    ASN1_TIME_diff(&days, &seconds, X509_get0_notBefore(certificate.get()),
                   X509_get0_notAfter(certificate.get()));
    return text + ", " + std::to_string(days) + " days";
}

}  // namespace test
}  // namespace kelvo
