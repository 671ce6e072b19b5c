// The OpenSSL context that the TLS server's connections share.
#pragma once

#include <memory>
#include <string>

#include <asio/ssl/context.hpp>

namespace kelvo {
namespace rtc {
namespace web {

enum class tls_mode : int {
    // TLS 1.0 and later (as far as the platform's OpenSSL policy allows).
    compatible = 1,
    // Also refuses TLS 1.0.
    strict = 2,
};

// A context with the mode's options and cipher list, made once and shared by every connection
// of a server (so sessions resume and a waiting connection costs no context of its own). Each
// handshake presents the certificate chain "<cert_dir>/kelvo_cert_chain.pem" and private key
// "<cert_dir>/kelvo_key.pem" (PEM; `cert_dir` in UTF-8) as the files hold them at that moment;
// when they cannot be used (missing, not matching, or a key that needs a pass phrase) that
// handshake fails and the server goes on.
std::shared_ptr<asio::ssl::context> make_tls_context(tls_mode mode, const std::string& cert_dir);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
