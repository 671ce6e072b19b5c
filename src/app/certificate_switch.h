// "-make-certificate": the program makes the certificate pair that its TLS server presents.
// Only this switch writes the pair; starting the agent never does (a missing pair only fails TLS
// handshakes), so an installer or a user decides when a key is made.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

inline constexpr const char make_certificate_switch[] = "-make-certificate";

// The program's switches end with 0 when they did their work (or found it done) and with 1
// when they could not, saying why on standard error.
inline constexpr int switch_done = 0;
inline constexpr int switch_failed = 1;

// Leaves a good pair of the program's own kind (net/own_certificate_profile.h) in `program_dir`
// (UTF-8) as it is, but for its key, which is made readable by the user alone when it is not
// (POSIX: mode 0600; Windows: an access list naming the user alone). A missing, damaged,
// expiring or foreign pair, or one whose key cannot be made private, is replaced by a new
// self-signed pair, the key readable by the user alone. Says what it found and did on standard
// output. Returns switch_done or switch_failed.
int make_certificate_pair(const std::string& program_dir);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
