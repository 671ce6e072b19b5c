// Certificate pairs for the TLS server, made at test time with the openssl command (none are kept
// in the repository).
#pragma once

#include <string>

namespace kelvo {
namespace test {

// The key and extensions of the certificates write_certificate_pair makes by default, as the
// openssl command's options: an EC P-256 key, and the extensions of its configuration (a
// certificate authority).
inline constexpr const char test_certificate_kind[] =
    "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1";

// Writes a fresh self-signed certificate for 127.0.0.1, valid for `days` from now, to
// "<folder>/kelvo_cert_chain.pem" and its key to "<folder>/<key_name>"; with a pass phrase the
// key is encrypted with it; `kind` gives the key, digest and extensions as "openssl req" options.
// The folder's name must be one the system's code page can write (the command line is narrow on
// Windows). True when the command succeeded.
bool write_certificate_pair(const std::string& folder,
                            const std::string& key_name = "kelvo_key.pem",
                            const std::string& pass_phrase = std::string(), int days = 1,
                            const std::string& kind = test_certificate_kind);

// What a browser cares about in the first certificate of `pem`, in words: its key ("EC
// prime256v1"), signature ("ecdsa-with-SHA256"), whether it is a certificate authority, its
// extended key usages and its life in whole days; "unreadable" when it cannot be parsed.
std::string describe_certificate(const std::string& pem);

}  // namespace test
}  // namespace kelvo
