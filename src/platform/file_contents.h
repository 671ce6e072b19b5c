// Reading and replacing files named by UTF-8 paths.
#pragma once

#include <optional>
#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// The bytes of the file at `path` (UTF-8, whatever the system's code page, so a folder name in
// any script works); none when it cannot be opened or read.
std::optional<std::string> platform_read_file(const std::string& path);

// Replaces the file at `path` with `bytes` in one step: they are written to a new file in the
// same folder, flushed to the disk, and that file then takes the old one's name, so a reader
// sees either the old file or the whole new one, never a part. On POSIX systems the new file is
// readable by the user only. False when it could not be done; the old file then stays as it was.
bool platform_replace_file_contents(const std::string& path, const std::string& bytes);

// As platform_replace_file_contents, for a file that nobody else may read (a private key): the new
// file is readable by the user only from its first moment on every system (Windows: an access
// list of its own that names this user alone).
bool platform_replace_private_file(const std::string& path, const std::string& bytes);

// Gives the file at `from` the name `to`, replacing a file there; false when it could not.
bool platform_rename_file(const std::string& from, const std::string& to);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
