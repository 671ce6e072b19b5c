#include "platform/uuid.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace kelvo {
namespace rtc {
namespace web {

namespace {

// Fills `bytes` from the kernel's random source; /dev/urandom where getrandom is unavailable.
bool readRandomBytes(unsigned char* bytes, size_t count) {
    size_t filled = 0;
    while (filled < count) {
        const ssize_t got = getrandom(bytes + filled, count - filled, 0);
        if (got > 0) {
            filled += static_cast<size_t>(got);
        } else if (got < 0 && errno == ENOSYS) {
            break;
        } else if (got < 0 && errno != EINTR) {
            return false;
        }
    }
    if (filled == count) return true;
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    while (filled < count) {
        const ssize_t got = read(fd, bytes + filled, count - filled);
        if (got > 0) {
            filled += static_cast<size_t>(got);
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    close(fd);
    return filled == count;
}

}  // namespace

std::string platform_random_uuid_text() {
    unsigned char b[16];
    if (!readRandomBytes(b, sizeof b)) return std::string();
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4: random
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                  b[15]);
    return std::string(text);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
