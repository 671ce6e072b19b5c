// A lock that processes (and threads) editing the same file take in turn.
#pragma once

#include <cstdint>
#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// Holds an exclusive lock on the file at `path` (UTF-8, made when missing and kept afterwards:
// removing it would let two processes lock two different files of that name) for its scope,
// waiting while another holder has it. Two holders in one process exclude each other as well.
class platform_file_lock {
public:
    explicit platform_file_lock(const std::string& path);
    ~platform_file_lock();
    platform_file_lock(const platform_file_lock&) = delete;
    platform_file_lock& operator=(const platform_file_lock&) = delete;

    // False when the lock file could not be opened or locked (a folder that does not exist).
    bool held() const { return file_ != -1; }

private:
    // The open and locked file: a descriptor on POSIX systems, a handle on Windows; -1 for none.
    intptr_t file_ = -1;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
