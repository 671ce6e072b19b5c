// Memory figures of processes, for the soak and the load programs. POSIX systems only: they read
// /proc (neither program is built for Windows).
#pragma once

#include <cstddef>

namespace kelvo {
namespace test {

// Resident memory of this process, or of the one with this identifier, in bytes; 0 when it
// cannot be read.
size_t resident_bytes();
size_t resident_bytes(long process_id);

// Bytes this process's heap has handed out and not had back. Unlike the resident size it leaves
// out what the allocator holds on to for reuse, so it is the figure that shows a leak. Under a
// sanitizer the sanitizer's allocator is the heap.
size_t heap_bytes_in_use();

// False under a sanitizer: its quarantine and shadow keep freed memory resident, so a bound on a
// process's resident size holds only in a plain build (the native suite checks it there).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool resident_size_is_meaningful = false;
#else
constexpr bool resident_size_is_meaningful = true;
#endif

}  // namespace test
}  // namespace kelvo
