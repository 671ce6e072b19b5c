#include "net/tls_context.h"

#include <system_error>

#include <openssl/ssl.h>

namespace kelvo {
namespace rtc {
namespace web {

namespace {

// Some of these are 0 in OpenSSL 3 (the protocols they refuse are gone); they are kept so the
// profile says what it means on every OpenSSL.
constexpr long compatible_options =
    SSL_OP_ALL | SSL_OP_SINGLE_DH_USE | SSL_OP_NO_SSLv2 | SSL_OP_NO_SSLv3;
constexpr long strict_options = compatible_options | SSL_OP_NO_TLSv1;

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

}  // namespace

std::shared_ptr<asio::ssl::context> make_tls_context(tls_mode mode, const std::string& cert_dir) {
    const bool strict = mode == tls_mode::strict;
    // asio's "tls" method negotiates the highest version both sides support; asio has already
    // switched compression off, and options are only ever added.
    auto context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls);
    SSL_CTX_set_options(context->native_handle(), strict ? strict_options : compatible_options);
    try {
        context->use_certificate_chain_file(cert_dir + "/kelvo_cert_chain.pem");
        context->use_private_key_file(cert_dir + "/kelvo_key.pem", asio::ssl::context::pem);
    } catch (const std::system_error&) {
        return context;
    }
    SSL_CTX_set_cipher_list(context->native_handle(), strict ? strict_ciphers : compatible_ciphers);
    return context;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
