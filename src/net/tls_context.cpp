#include "net/tls_context.h"

#include <cstdint>

#include <openssl/err.h>
#include <openssl/ssl.h>

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

// The context together with the file names its certificate callback reads.
struct tls_setup {
    asio::ssl::context context{asio::ssl::context::tls};
    std::string chain_file;
    std::string key_file;
};

// Runs when the connection's handshake reads the client's hello. The library makes a connection
// (and asks for its context) as soon as it starts waiting for the next client, which may be long
// before that client comes; reading the files here, not then, lets replaced files serve the very
// next handshake. Without a usable certificate and key the handshake fails.
int load_certificate(SSL* ssl, void* argument) {
    const auto* setup = static_cast<const tls_setup*>(argument);
    if (SSL_use_certificate_chain_file(ssl, setup->chain_file.c_str()) != 1 ||
        SSL_use_PrivateKey_file(ssl, setup->key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
        // Leave nothing in this thread's error queue for the next connection to trip over.
        ERR_clear_error();
    }
    return 1;
}

}  // namespace

std::shared_ptr<asio::ssl::context> make_tls_context(tls_mode mode, const std::string& cert_dir) {
    const bool strict = mode == tls_mode::strict;
    auto setup = std::make_shared<tls_setup>();
    setup->chain_file = cert_dir + "/kelvo_cert_chain.pem";
    setup->key_file = cert_dir + "/kelvo_key.pem";
    // asio's "tls" method negotiates the highest version both sides support; asio has already
    // switched compression off, and options are only ever added.
    SSL_CTX* native = setup->context.native_handle();
    SSL_CTX_set_options(native, strict ? strict_options : compatible_options);
    SSL_CTX_set_cipher_list(native, strict ? strict_ciphers : compatible_ciphers);
    // The connection's socket (and its SSL) is destroyed before its context, so `setup` outlives
    // every call of the callback.
    SSL_CTX_set_cert_cb(native, load_certificate, setup.get());
    return std::shared_ptr<asio::ssl::context>(setup, &setup->context);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
