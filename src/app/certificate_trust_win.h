// Windows: the current user's trust in the certificate beside the program, for browsers that
// take their trusted roots from the system (Chromium-based ones, and Firefox with its
// "security.enterprise_roots.enabled" setting).
//
// The thumbprint of the certificate trusted last is kept in HKCU\Software\Kelvo Web Agent
// (TrustedCertificate), so that a renewed certificate replaces the old one and the uninstaller
// removes exactly the one that was added, never a certificate of anyone else.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

inline constexpr const char trust_certificate_switch[] = "-trust-certificate";
inline constexpr const char untrust_certificate_switch[] = "-untrust-certificate";

// Adds the certificate in `program_dir` (UTF-8) to the user's trusted root certificates unless
// it is there, and removes the one trusted before when that was another. Only a certificate of
// the program's own kind (net/own_certificate_profile.h) whose key lies beside it is trusted;
// anything else fails the switch. Windows asks the user
// to confirm each change of that store; a refusal fails the switch. Returns switch_done or
// switch_failed (app/certificate_switch.h), saying what it did on standard output or standard
// error.
int trust_certificate(const std::string& program_dir);

// Removes the certificate that trust_certificate added from the user's trusted roots and forgets
// it; done, too, when none was added.
int untrust_certificate();

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
