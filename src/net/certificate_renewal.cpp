#include "net/certificate_renewal.h"

#include <memory>

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include "net/own_certificate_profile.h"
#include "net/pem_certificate.h"
#include "net/tls_certificate.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

// The moment `time` names, counted from `now` by OpenSSL (whose reading of both time formats
// a certificate may use is the one the server's clients share).
bool as_time(const ASN1_TIME* time, std::time_t now, std::time_t& result) {
    ASN1_TIME* reference = ASN1_TIME_set(nullptr, now);
    int days = 0;
    int seconds = 0;
    const bool read = reference != nullptr && time != nullptr &&
                      ASN1_TIME_diff(&days, &seconds, reference, time) == 1;
    ASN1_TIME_free(reference);
    if (read) result = now + static_cast<std::time_t>(days) * 24 * 60 * 60 + seconds;
    return read;
}

}  // namespace

certificate_pair_inspection inspect_certificate_pair(const std::optional<std::string>& chain_pem,
                                                     const std::optional<std::string>& key_pem,
                                                     std::time_t now) {
    certificate_pair_inspection inspection;
    if (!chain_pem || !key_pem) return inspection;
    inspection.state = certificate_pair_state::damaged;
    // The same reading as the server's at each handshake: what it refuses is damaged here.
    const bool usable = tls_certificate::parse(*chain_pem, *key_pem) != nullptr;
    const auto certificate = first_certificate(*chain_pem);
    const bool own = usable && has_own_certificate_profile(*chain_pem);
    ERR_clear_error();
    std::time_t starts = 0;
    if (!usable || !certificate || !as_time(X509_get0_notBefore(certificate.get()), now, starts) ||
        !as_time(X509_get0_notAfter(certificate.get()), now, inspection.expires) || starts > now) {
        return inspection;
    }
    if (!own) {
        inspection.state = certificate_pair_state::foreign;
        return inspection;
    }
    const std::time_t renewal_window =
        static_cast<std::time_t>(renewal_days_before_expiry) * 24 * 60 * 60;
    inspection.state = inspection.expires - now <= renewal_window
                           ? certificate_pair_state::expiring
                           : certificate_pair_state::good;
    return inspection;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
