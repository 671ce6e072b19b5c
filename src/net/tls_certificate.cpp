#include "net/tls_certificate.h"

#include <optional>

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "platform/file_contents.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

// Without a callback OpenSSL asks for the pass phrase on the terminal, which would block the
// server's thread (and with it every later connection and the agent's own shutdown).
int refuse_pass_phrase(char*, int, int, void*) { return -1; }

struct bio_deleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using bio_ptr = std::unique_ptr<BIO, bio_deleter>;

bio_ptr memory_bio(const std::string& text) {
    return bio_ptr(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

// True when the last error only says that no further PEM block follows.
bool only_end_of_input() {
    const unsigned long error = ERR_peek_last_error();
    return ERR_GET_LIB(error) == ERR_LIB_PEM && ERR_GET_REASON(error) == PEM_R_NO_START_LINE;
}

}  // namespace

std::shared_ptr<const tls_certificate> tls_certificate::parse(const std::string& chain_pem,
                                                             const std::string& key_pem) {
    std::shared_ptr<tls_certificate> pair(new tls_certificate());
    bio_ptr chain_bio = memory_bio(chain_pem);
    bio_ptr key_bio = memory_bio(key_pem);
    if (!chain_bio || !key_bio) return nullptr;
    pair->leaf_ = PEM_read_bio_X509_AUX(chain_bio.get(), nullptr, refuse_pass_phrase, nullptr);
    pair->chain_ = sk_X509_new_null();
    if (pair->leaf_ == nullptr || pair->chain_ == nullptr) return nullptr;
    while (X509* link = PEM_read_bio_X509(chain_bio.get(), nullptr, refuse_pass_phrase, nullptr)) {
        if (sk_X509_push(pair->chain_, link) == 0) {
            X509_free(link);
            return nullptr;
        }
    }
    if (!only_end_of_input()) return nullptr;
    ERR_clear_error();
    pair->key_ = PEM_read_bio_PrivateKey(key_bio.get(), nullptr, refuse_pass_phrase, nullptr);
    if (pair->key_ == nullptr || X509_check_private_key(pair->leaf_, pair->key_) != 1) {
        return nullptr;
    }
    return pair;
}

tls_certificate::~tls_certificate() {
    X509_free(leaf_);
    sk_X509_pop_free(chain_, X509_free);
    EVP_PKEY_free(key_);
}

bool tls_certificate::present_on(SSL* ssl) const {
    return SSL_use_cert_and_key(ssl, leaf_, key_, chain_, 1) == 1;
}

tls_certificate_files::tls_certificate_files(std::string chain_path, std::string key_path)
    : chain_path_(std::move(chain_path)), key_path_(std::move(key_path)) {}

std::shared_ptr<const tls_certificate> tls_certificate_files::current() {
    std::optional<std::string> chain = platform_read_file(chain_path_);
    std::optional<std::string> key = platform_read_file(key_path_);
    if (!chain || !key) return nullptr;
    digest chain_digest{};
    digest key_digest{};
    EVP_Digest(chain->data(), chain->size(), chain_digest.data(), nullptr, EVP_sha256(), nullptr);
    EVP_Digest(key->data(), key->size(), key_digest.data(), nullptr, EVP_sha256(), nullptr);

    std::lock_guard<std::mutex> lock(mutex_);
    if (chain_digest != chain_digest_ || key_digest != key_digest_) {
        certificate_ = tls_certificate::parse(*chain, *key);
        chain_digest_ = chain_digest;
        key_digest_ = key_digest;
    }
    OPENSSL_cleanse(&(*key)[0], key->size());
    return certificate_;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
