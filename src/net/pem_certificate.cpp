#include "net/pem_certificate.h"

#include <openssl/bio.h>
#include <openssl/pem.h>

namespace kelvo {
namespace rtc {
namespace web {

namespace {

using bio_ptr = std::unique_ptr<BIO, decltype(&BIO_free)>;

}  // namespace

certificate_ptr first_certificate(const std::string& pem) {
    bio_ptr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    if (!bio) return nullptr;
    return certificate_ptr(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

std::string certificate_pem(X509* certificate) {
    bio_ptr bio(BIO_new(BIO_s_mem()), BIO_free);
    char* data = nullptr;
    if (!bio || PEM_write_bio_X509(bio.get(), certificate) != 1) return std::string();
    const long length = BIO_get_mem_data(bio.get(), &data);
    return length > 0 && data != nullptr ? std::string(data, static_cast<size_t>(length))
                                         : std::string();
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
