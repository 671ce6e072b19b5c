#include "platform/single_instance.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

#include "platform/posix/runtime_folder.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

// 1: taken, 0: held by another process, -1: the lock file could not be used.
int lockOnce() {
    const std::string path = platform_runtime_folder() + "/RizudAdaEngineAgent";
    // Kept open (and so locked) until the process ends; not inherited by child processes.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    int result;
    do {
        result = flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) return 1;
    const bool held = errno == EWOULDBLOCK;
    close(fd);
    return held ? 0 : -1;
}

}  // namespace

bool platform_take_single_instance_lock() {
    static const int state = lockOnce();
    return state != 0;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
