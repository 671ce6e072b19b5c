#include "net/self_signed_certificate.h"

#include <memory>

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "net/host_validation.h"
#include "net/pem_certificate.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

template <typename T, void (*free_function)(T*)>
struct openssl_deleter {
    void operator()(T* object) const { free_function(object); }
};
using key_ptr = std::unique_ptr<EVP_PKEY, openssl_deleter<EVP_PKEY, EVP_PKEY_free>>;
using bio_ptr = std::unique_ptr<BIO, openssl_deleter<BIO, BIO_free_all>>;
using number_ptr = std::unique_ptr<BIGNUM, openssl_deleter<BIGNUM, BN_free>>;

// A random positive serial of 127 bits: two certificates made on one machine (or on two) are
// never told apart by their issuer and serial alone.
bool set_random_serial(X509* certificate) {
    number_ptr serial(BN_new());
    return serial && BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
           BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate)) != nullptr;
}

bool add_extension(X509* certificate, X509V3_CTX* context, int nid, const char* value) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, context, nid, value);
    if (extension == nullptr) return false;
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

bool describe(X509* certificate, EVP_PKEY* key, std::time_t now) {
    X509_NAME* name = X509_get_subject_name(certificate);
    const long lifetime = static_cast<long>(self_signed_lifetime_days) * 24 * 60 * 60;
    if (X509_set_version(certificate, 2) != 1 || !set_random_serial(certificate) ||
        X509_NAME_add_entry_by_txt(
            name, "CN", MBSTRING_UTF8,
            reinterpret_cast<const unsigned char*>(self_signed_common_name), -1, -1, 0) != 1 ||
        X509_set_issuer_name(certificate, name) != 1 ||
        X509_time_adj_ex(X509_getm_notBefore(certificate), 0, 0, &now) == nullptr ||
        X509_time_adj_ex(X509_getm_notAfter(certificate), 0, lifetime, &now) == nullptr ||
        X509_set_pubkey(certificate, key) != 1) {
        return false;
    }
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    const std::string names = std::string("IP:127.0.0.1,DNS:") + loopback_host_name;
    return add_extension(certificate, &context, NID_basic_constraints, "critical,CA:FALSE") &&
           add_extension(certificate, &context, NID_key_usage, "critical,digitalSignature") &&
           add_extension(certificate, &context, NID_ext_key_usage, "serverAuth") &&
           add_extension(certificate, &context, NID_subject_alt_name, names.c_str()) &&
           add_extension(certificate, &context, NID_subject_key_identifier, "hash");
}

std::optional<std::string> bio_text(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    if (length <= 0 || data == nullptr) return std::nullopt;
    return std::string(data, static_cast<size_t>(length));
}

}  // namespace

std::optional<certificate_pair_text> make_self_signed_certificate(std::time_t now) {
    key_ptr key(EVP_EC_gen("P-256"));
    certificate_ptr certificate(X509_new());
    if (!key || !certificate || !describe(certificate.get(), key.get(), now) ||
        X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0) {
        return std::nullopt;
    }
    std::string chain_pem = certificate_pem(certificate.get());
    bio_ptr private_key(BIO_new(BIO_s_mem()));
    if (chain_pem.empty() || !private_key ||
        PEM_write_bio_PrivateKey(private_key.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                 nullptr) != 1) {
        return std::nullopt;
    }
    std::optional<std::string> key_pem = bio_text(private_key.get());
    if (!key_pem) return std::nullopt;
    return certificate_pair_text{std::move(chain_pem), std::move(*key_pem)};
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
