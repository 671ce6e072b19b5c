#include "platform/file_contents.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

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

std::optional<std::string> platform_read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) return std::nullopt;
    return bytes;
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

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
