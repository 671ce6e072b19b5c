// Whether the certificate pair beside the program can serve on, or must be made anew.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// A certificate this close to its end is renewed: browsers start to warn, and a user who
// renews only now and then must not be caught out.
inline constexpr int renewal_days_before_expiry = 30;

enum class certificate_pair_state {
    // The server can present it for more than renewal_days_before_expiry days.
    good,
    // A file is not there (or cannot be read).
    missing,
    // The server cannot present it: not PEM, a key that needs a pass phrase, a key of another
    // certificate, or a certificate not valid yet.
    damaged,
    // The server could present it, but it is not the kind this program makes
    // (own_certificate_profile.h): someone else's, a certificate authority, a weak one.
    foreign,
    // Ends within renewal_days_before_expiry days, or has ended.
    expiring,
};

struct certificate_pair_inspection {
    certificate_pair_state state = certificate_pair_state::missing;
    // When the certificate ends (its notAfter), for good and expiring pairs.
    std::time_t expires = 0;
};

// The pair as its two files hold it (none: a file that could not be read), seen at `now`.
certificate_pair_inspection inspect_certificate_pair(const std::optional<std::string>& chain_pem,
                                                     const std::optional<std::string>& key_pem,
                                                     std::time_t now);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
