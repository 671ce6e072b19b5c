// This computer's own certificate for the TLS server: made on the machine that uses it, never
// shipped, so no two installations share a private key.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// Browsers cap a certificate's life at 825 days; one that lives that long needs renewing only
// rarely.
inline constexpr int self_signed_lifetime_days = 825;

// The certificate's subject and issuer (CN), the name users see when a browser or the system's
// certificate list shows it.
inline constexpr const char self_signed_common_name[] = "Kelvo Web Agent (this computer)";

struct certificate_pair_text {
    // The certificate alone (it signs itself, so it is its whole chain), PEM.
    std::string chain_pem;
    // Its private key, PEM, not encrypted: the agent reads it with nobody there to type a
    // pass phrase.
    std::string key_pem;
};

// A new EC P-256 key and a certificate signed with it (SHA-256) for 127.0.0.1 and
// loopback_host_name: not a certificate authority, for TLS servers only, valid from `now` for
// self_signed_lifetime_days. None when OpenSSL could not make one.
std::optional<certificate_pair_text> make_self_signed_certificate(std::time_t now);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
