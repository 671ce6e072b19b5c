// Reading and replacing files named by UTF-8 paths.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace kelvo {
namespace rtc {
namespace web {

// What reading a file found.
struct file_read {
    enum outcome_kind {
        read,
        // Nothing has that name (or a folder of the path is missing).
        missing,
        // Something has that name but cannot be read as a file: no right to it, a folder or
        // another kind of object in its place, a failing disk.
        unreadable,
    };
    outcome_kind outcome = missing;
    // The file's bytes, when read.
    std::string bytes;
    // When unreadable: the system's reason, in words, for messages to the user.
    std::string reason;
};

// The file at `path` (UTF-8, whatever the system's code page, so a folder name in any script
// works), telling a missing file from one that is there but cannot be read. A link is followed.
file_read platform_read_file_or_why(const std::string& path);

// The bytes of the file at `path`; none when it is missing or cannot be read.
inline std::optional<std::string> platform_read_file(const std::string& path) {
    file_read result = platform_read_file_or_why(path);
    if (result.outcome != file_read::read) return std::nullopt;
    return std::move(result.bytes);
}

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

// The path of the file that `path` ends at once every link on the way is followed, so that a
// replacement written there keeps the user's link; `path` itself when it is no link. Empty when
// a link leads nowhere (or in a circle).
std::string platform_link_target(const std::string& path);

// Makes the existing file at `path` readable and writable by this user alone, as
// platform_replace_private_file would have made it (POSIX: mode 0600, changed in place; Windows:
// its bytes written anew with an access list of their own naming this user alone). False when it
// cannot: the file is missing, is a link or no plain file, or belongs to another user (POSIX), or
// the system refuses.
bool platform_make_file_private(const std::string& path);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
