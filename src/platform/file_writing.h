// Writing whole files named by UTF-8 paths.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

enum class file_readers {
    // Whoever the folder lets read its files.
    folder_default,
    // The user running the program, and nobody else (POSIX: mode 0600; Windows: an access list
    // that names only this user).
    user_only,
};

// Replaces the file at `path` with `bytes`: they go to a new file in the same folder, which then
// takes the old one's name, so a reader sees the old file or the whole new one. False when it
// could not be done; the old file then stays as it was.
bool platform_write_file(const std::string& path, const std::string& bytes,
                         file_readers readers);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
