// The OpenSSL context made for every connection of the TLS server.
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

// A fresh context with the mode's options and cipher list. Its connection reads the certificate
// chain "<cert_dir>/kelvo_cert_chain.pem" and private key "<cert_dir>/kelvo_key.pem" (PEM, not
// encrypted) when its handshake begins; when a file cannot be used that handshake fails and the
// server goes on.
std::shared_ptr<asio::ssl::context> make_tls_context(tls_mode mode, const std::string& cert_dir);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
