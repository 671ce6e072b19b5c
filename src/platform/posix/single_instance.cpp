#include "platform/single_instance.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/posix/runtime_folder.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

struct lock_state {
    // 1: taken, 0: held by another process, -1: the lock file could not be used.
    int taken = -1;
    unsigned long holder = 0;
};

// The lock file holds its holder's process identifier, so that a second start can name it. When
// it cannot be written the second start only says that it does not know which process it is.
void recordHolder(int fd) {
    const std::string pid = std::to_string(getpid());
    const bool recorded = ftruncate(fd, 0) == 0 &&
                          pwrite(fd, pid.data(), pid.size(), 0) ==
                              static_cast<ssize_t>(pid.size());
    static_cast<void>(recorded);
}

unsigned long readHolder(int fd) {
    char text[24] = {};
    const ssize_t length = pread(fd, text, sizeof(text) - 1, 0);
    if (length <= 0) return 0;
    char* end = nullptr;
    const unsigned long pid = std::strtoul(text, &end, 10);
    return end == text + length ? pid : 0;
}

lock_state lockOnce() {
    lock_state state;
    const std::string folder = platform_runtime_folder();
    if (folder.empty()) return state;
    const std::string path = folder + "/RizudAdaEngineAgent";
    // Kept open (and so locked) until the process ends; not inherited by child processes.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return state;
    int result;
    do {
        result = flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        recordHolder(fd);
        state.taken = 1;
        return state;
    }
    if (errno == EWOULDBLOCK) {
        state.taken = 0;
        state.holder = readHolder(fd);
    }
    close(fd);
    return state;
}

const lock_state& lockState() {
    static const lock_state state = lockOnce();
    return state;
}

}  // namespace

bool platform_take_single_instance_lock() {
    return lockState().taken != 0;
}

unsigned long platform_single_instance_holder() {
    return lockState().holder;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
