// The certificate chain and private key that the TLS server presents.
#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <string>

#include <openssl/ssl.h>

namespace kelvo {
namespace rtc {
namespace web {

// The pair's two files, in the program's folder.
inline constexpr const char certificate_chain_file_name[] = "kelvo_cert_chain.pem";
inline constexpr const char private_key_file_name[] = "kelvo_key.pem";

// A parsed pair, shared by every handshake that presents it; never changed once made.
class tls_certificate {
public:
    // The pair from PEM texts: the first certificate of `chain_pem` is the server's, the others
    // its chain. None when there is no certificate, the key cannot be read (a key protected by a
    // pass phrase is refused: nothing may wait for someone to type it) or belongs to another
    // certificate.
    static std::shared_ptr<const tls_certificate> parse(const std::string& chain_pem,
                                                       const std::string& key_pem);
    ~tls_certificate();
    tls_certificate(const tls_certificate&) = delete;
    tls_certificate& operator=(const tls_certificate&) = delete;

    // Makes this connection present the pair; false when OpenSSL refuses it.
    bool present_on(SSL* ssl) const;

private:
    tls_certificate() = default;

    X509* leaf_ = nullptr;
    STACK_OF(X509)* chain_ = nullptr;
    EVP_PKEY* key_ = nullptr;
};

// The pair in two PEM files, read for every handshake and parsed again only when their bytes
// have changed: replacing the files takes effect on the next handshake, and a handshake costs
// two small reads instead of a parse.
class tls_certificate_files {
public:
    // UTF-8 paths.
    tls_certificate_files(std::string chain_path, std::string key_path);

    // The pair the files hold now; null when either cannot be read or the pair is not usable.
    std::shared_ptr<const tls_certificate> current();

private:
    using digest = std::array<unsigned char, 32>;

    const std::string chain_path_;
    const std::string key_path_;
    // Guards the two below; handshakes on several threads may ask at once.
    std::mutex mutex_;
    // Of the file texts `certificate_` was parsed from (a digest: the key's text is not kept).
    digest chain_digest_{};
    digest key_digest_{};
    std::shared_ptr<const tls_certificate> certificate_;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
