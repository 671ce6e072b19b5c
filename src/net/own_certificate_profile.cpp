#include "net/own_certificate_profile.h"

#include <cstring>
#include <iterator>
#include <memory>

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "net/host_validation.h"
#include "net/pem_certificate.h"
#include "net/self_signed_certificate.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

// The extensions that make_self_signed_certificate writes, each once.
constexpr int own_extensions[] = {NID_basic_constraints, NID_key_usage, NID_ext_key_usage,
                                  NID_subject_alt_name, NID_subject_key_identifier};

bool same_text(const ASN1_STRING* text, const char* expected) {
    const size_t length = std::strlen(expected);
    return text != nullptr && static_cast<size_t>(ASN1_STRING_length(text)) == length &&
           std::memcmp(ASN1_STRING_get0_data(text), expected, length) == 0;
}

bool only_own_name(const X509_NAME* name) {
    const X509_NAME_ENTRY* entry =
        X509_NAME_entry_count(name) == 1 ? X509_NAME_get_entry(name, 0) : nullptr;
    return entry != nullptr &&
           OBJ_obj2nid(X509_NAME_ENTRY_get_object(entry)) == NID_commonName &&
           same_text(X509_NAME_ENTRY_get_data(entry), self_signed_common_name);
}

bool only_own_extensions(const X509* certificate) {
    if (X509_get_ext_count(certificate) != static_cast<int>(std::size(own_extensions))) {
        return false;
    }
    for (const int nid : own_extensions) {
        if (X509_get_ext_by_NID(certificate, nid, -1) < 0) return false;
    }
    return true;
}

bool server_use_only(X509* certificate) {
    const uint32_t flags = X509_get_extension_flags(certificate);
    if ((flags & (EXFLAG_INVALID | EXFLAG_CA)) != 0 || (flags & EXFLAG_BCONS) == 0 ||
        X509_get_key_usage(certificate) != KU_DIGITAL_SIGNATURE) {
        return false;
    }
    std::unique_ptr<EXTENDED_KEY_USAGE, decltype(&EXTENDED_KEY_USAGE_free)> usages(
        static_cast<EXTENDED_KEY_USAGE*>(
            X509_get_ext_d2i(certificate, NID_ext_key_usage, nullptr, nullptr)),
        EXTENDED_KEY_USAGE_free);
    return usages && sk_ASN1_OBJECT_num(usages.get()) == 1 &&
           OBJ_obj2nid(sk_ASN1_OBJECT_value(usages.get(), 0)) == NID_server_auth;
}

bool only_own_host_names(const X509* certificate) {
    std::unique_ptr<GENERAL_NAMES, decltype(&GENERAL_NAMES_free)> names(
        static_cast<GENERAL_NAMES*>(
            X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)),
        GENERAL_NAMES_free);
    if (!names || sk_GENERAL_NAME_num(names.get()) != 2) return false;
    static const unsigned char loopback[] = {127, 0, 0, 1};
    bool address = false;
    bool host = false;
    for (int i = 0; i < 2; ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
        if (name->type == GEN_IPADD && ASN1_STRING_length(name->d.iPAddress) == 4 &&
            std::memcmp(ASN1_STRING_get0_data(name->d.iPAddress), loopback, 4) == 0) {
            address = true;
        } else if (name->type == GEN_DNS && same_text(name->d.dNSName, loopback_host_name)) {
            host = true;
        }
    }
    return address && host;
}

bool own_key_and_signature(X509* certificate) {
    EVP_PKEY* key = X509_get0_pubkey(certificate);
    char group[32] = {};
    return key != nullptr && EVP_PKEY_get_base_id(key) == EVP_PKEY_EC &&
           EVP_PKEY_get_group_name(key, group, sizeof group, nullptr) == 1 &&
           std::strcmp(group, "prime256v1") == 0 &&
           X509_get_signature_nid(certificate) == NID_ecdsa_with_SHA256 &&
           X509_verify(certificate, key) == 1;
}

bool own_lifetime(const X509* certificate) {
    int days = 0;
    int seconds = 0;
    return ASN1_TIME_diff(&days, &seconds, X509_get0_notBefore(certificate),
                          X509_get0_notAfter(certificate)) == 1 &&
           days >= 0 && seconds >= 0 &&
           (days < self_signed_lifetime_days || (days == self_signed_lifetime_days && seconds == 0));
}

}  // namespace

bool has_own_certificate_profile(const std::string& chain_pem) {
    const certificate_ptr certificate = first_certificate(chain_pem);
    return certificate && certificate_pem(certificate.get()) == chain_pem &&
           X509_get_version(certificate.get()) == X509_VERSION_3 &&
           only_own_name(X509_get_subject_name(certificate.get())) &&
           only_own_name(X509_get_issuer_name(certificate.get())) &&
           only_own_extensions(certificate.get()) && server_use_only(certificate.get()) &&
           only_own_host_names(certificate.get()) && own_key_and_signature(certificate.get()) &&
           own_lifetime(certificate.get());
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
