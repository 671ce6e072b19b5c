// One certificate read from, or written as, the PEM text of a chain file.
#pragma once

#include <memory>
#include <string>

#include <openssl/x509.h>

namespace kelvo {
namespace rtc {
namespace web {

struct certificate_deleter {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using certificate_ptr = std::unique_ptr<X509, certificate_deleter>;

// The first certificate in `pem`; null when it holds none.
certificate_ptr first_certificate(const std::string& pem);

// The certificate as PEM_write_bio_X509 writes it, which is how the chain file is written; empty
// when it cannot be written.
std::string certificate_pem(X509* certificate);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
