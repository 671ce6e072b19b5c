#include "platform/file_writing.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace kelvo {
namespace rtc {
namespace web {

namespace {

bool writeAll(int fd, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

// What open() would give a new file: 0666 less the process's umask.
mode_t folderDefaultMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

// mkstemp makes the new file readable by the user only from its first moment, so a private
// key is never readable by others, not even while it is being written.
bool platform_write_file(const std::string& path, const std::string& bytes,
                         file_readers readers) {
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0) return false;
    bool written = writeAll(fd, bytes) &&
                   (readers == file_readers::user_only || fchmod(fd, folderDefaultMode()) == 0) &&
                   fsync(fd) == 0;
    written = close(fd) == 0 && written;
    if (written && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    unlink(temporary.c_str());
    return false;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
