#include "platform/file_contents.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

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

}  // namespace

// Not opened for blocking: a pipe in the file's place must not make the reader wait for a writer.
file_read platform_read_file_or_why(const std::string& path) {
    file_read result;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT) result = {file_read::unreadable, std::string(), std::strerror(errno)};
        return result;
    }
    struct stat status {};
    const char* wrong = fstat(fd, &status) != 0    ? std::strerror(errno)
                        : S_ISDIR(status.st_mode)  ? std::strerror(EISDIR)
                        : !S_ISREG(status.st_mode) ? "not a plain file"
                                                   : nullptr;
    if (wrong != nullptr) {
        close(fd);
        return {file_read::unreadable, std::string(), wrong};
    }
    result.outcome = file_read::read;
    char buffer[16384];
    for (;;) {
        const ssize_t length = read(fd, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR) continue;
        if (length < 0) result = {file_read::unreadable, std::string(), std::strerror(errno)};
        if (length <= 0) break;
        result.bytes.append(buffer, static_cast<size_t>(length));
    }
    close(fd);
    return result;
}

// The new file gets a name of its own (mkstemp), so writers that do not lock each other out
// never write into one file together; rename replaces the old one in one step.
bool platform_replace_file_contents(const std::string& path, const std::string& bytes) {
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0) return false;
    bool written = writeAll(fd, bytes) && fsync(fd) == 0;
    written = close(fd) == 0 && written;
    if (written && platform_rename_file(temporary, path)) return true;
    unlink(temporary.c_str());
    return false;
}

// mkostemp makes every new file readable by the user only.
bool platform_replace_private_file(const std::string& path, const std::string& bytes) {
    return platform_replace_file_contents(path, bytes);
}

bool platform_rename_file(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

std::string platform_link_target(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
    char* target = realpath(path.c_str(), nullptr);
    if (target == nullptr) return std::string();
    std::string resolved = target;
    free(target);
    return resolved;
}

// Changed through the open file, never by name: a link put in the file's place between a look
// and a change would pass the change to its target.
bool platform_make_file_private(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat status {};
    const bool made = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                      status.st_uid == geteuid() &&
                      ((status.st_mode & 07777) == 0600 || fchmod(fd, 0600) == 0);
    close(fd);
    return made;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
