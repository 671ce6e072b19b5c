#include "platform/file_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kelvo {
namespace rtc {
namespace web {

// flock locks belong to the open file, so every holder opens the file for itself: holders in
// one process exclude each other as holders in different processes do.
platform_file_lock::platform_file_lock(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    int result;
    do {
        result = flock(fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        close(fd);
        return;
    }
    file_ = fd;
}

platform_file_lock::~platform_file_lock() {
    if (held()) close(static_cast<int>(file_));
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
