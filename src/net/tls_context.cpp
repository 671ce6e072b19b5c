#include "net/tls_context.h"

#include <cstdint>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "net/tls_certificate.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

// Some of these are 0 in OpenSSL 3 (the protocols they refuse are gone); they are kept so the
// profile says what it means on every OpenSSL.
constexpr uint64_t compatible_options =
    SSL_OP_ALL | SSL_OP_SINGLE_DH_USE | SSL_OP_NO_SSLv2 | SSL_OP_NO_SSLv3;
constexpr uint64_t strict_options = compatible_options | SSL_OP_NO_TLSv1;

constexpr const char compatible_ciphers[] =
    "ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:DHE-RSA-AES128-GCM-SHA256:DHE-DSS-AES128-GCM-SHA256:"
    "kEDH+AESGCM:ECDHE-RSA-AES128-SHA256:ECDHE-ECDSA-AES128-SHA256:ECDHE-RSA-AES128-SHA:"
    "ECDHE-ECDSA-AES128-SHA:ECDHE-RSA-AES256-SHA384:ECDHE-ECDSA-AES256-SHA384:"
    "ECDHE-RSA-AES256-SHA:ECDHE-ECDSA-AES256-SHA:DHE-RSA-AES128-SHA256:DHE-RSA-AES128-SHA:"
    "DHE-DSS-AES128-SHA256:DHE-RSA-AES256-SHA256:DHE-DSS-AES256-SHA:DHE-RSA-AES256-SHA:"
    "AES128-GCM-SHA256:AES256-GCM-SHA384:AES128-SHA256:AES256-SHA256:AES128-SHA:AES256-SHA:"
    "AES:CAMELLIA:DES-CBC3-SHA:!aNULL:!eNULL:!EXPORT:!DES:!RC4:!MD5:!PSK:!aECDH:"
    "!EDH-DSS-DES-CBC3-SHA:!EDH-RSA-DES-CBC3-SHA:!KRB5-DES-CBC3-SHA";

constexpr const char strict_ciphers[] =
    "ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:DHE-RSA-AES128-GCM-SHA256:DHE-DSS-AES128-GCM-SHA256:"
    "kEDH+AESGCM:ECDHE-RSA-AES128-SHA256:ECDHE-ECDSA-AES128-SHA256:ECDHE-RSA-AES128-SHA:"
    "ECDHE-ECDSA-AES128-SHA:ECDHE-RSA-AES256-SHA384:ECDHE-ECDSA-AES256-SHA384:"
    "ECDHE-RSA-AES256-SHA:ECDHE-ECDSA-AES256-SHA:DHE-RSA-AES128-SHA256:DHE-RSA-AES128-SHA:"
    "DHE-DSS-AES128-SHA256:DHE-RSA-AES256-SHA256:DHE-DSS-AES256-SHA:DHE-RSA-AES256-SHA:"
    "!aNULL:!eNULL:!EXPORT:!DES:!RC4:!3DES:!MD5:!PSK";

// The context together with the files its certificate callback reads.
struct tls_setup {
    tls_setup(const std::string& cert_dir)
        : files(cert_dir + "/" + certificate_chain_file_name,
                cert_dir + "/" + private_key_file_name) {}

    asio::ssl::context context{asio::ssl::context::tls};
    tls_certificate_files files;
};

// Runs when a connection's handshake reads the client's hello. The library makes a connection
// as soon as it starts waiting for the next client, which may be long before that client comes;
// looking at the files here, not then, lets replaced files serve the very next handshake.
// Without a usable certificate and key the handshake fails.
int present_certificate(SSL* ssl, void* argument) {
    auto* setup = static_cast<tls_setup*>(argument);
    if (std::shared_ptr<const tls_certificate> certificate = setup->files.current()) {
        certificate->present_on(ssl);
    }
    // Leave nothing in this thread's error queue for the next connection to trip over.
    ERR_clear_error();
    return 1;
}

}  // namespace

std::shared_ptr<asio::ssl::context> make_tls_context(tls_mode mode, const std::string& cert_dir) {
    const bool strict = mode == tls_mode::strict;
    auto setup = std::make_shared<tls_setup>(cert_dir);
    // asio's "tls" method negotiates the highest version both sides support; asio has already
    // switched compression off, and options are only ever added.
    SSL_CTX* native = setup->context.native_handle();
    SSL_CTX_set_options(native, strict ? strict_options : compatible_options);
    SSL_CTX_set_cipher_list(native, strict ? strict_ciphers : compatible_ciphers);
    // Every connection holds the context (and so `setup`) until its SSL is gone.
    SSL_CTX_set_cert_cb(native, present_certificate, setup.get());
    return std::shared_ptr<asio::ssl::context>(setup, &setup->context);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
