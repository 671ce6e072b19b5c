// Whether a certificate is of the one kind this program makes for itself
// (self_signed_certificate.h), and nothing more. A certificate beside the program that is
// anything else (a certificate authority, another site's, a weak key) must never be kept as the
// agent's, nor trusted by the installer in the agent's name.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// True when `chain_pem` is one certificate, written as this program writes it and nothing
// besides, that make_self_signed_certificate could have made: version 3, signed by its own key
// with ECDSA and SHA-256, an EC P-256 key, the subject and issuer its common name alone, not a
// certificate authority, key usage digital signature alone, extended key usage TLS server alone,
// exactly the two names 127.0.0.1 and loopback_host_name, valid for at most
// self_signed_lifetime_days, and no other extension. Its key and its dates are not looked at.
bool has_own_certificate_profile(const std::string& chain_pem);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
