#include "support/process_memory.h"

#include <malloc.h>
#include <unistd.h>

#include <fstream>
#include <string>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace kelvo {
namespace test {
namespace {

// The second field of statm counts resident pages.
size_t statm_resident_bytes(const std::string& path) {
    std::ifstream statm(path);
    size_t total_pages = 0, resident_pages = 0;
    if (!(statm >> total_pages >> resident_pages)) return 0;
    return resident_pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace

size_t resident_bytes() { return statm_resident_bytes("/proc/self/statm"); }

size_t resident_bytes(long process_id) {
    return statm_resident_bytes("/proc/" + std::to_string(process_id) + "/statm");
}

size_t heap_bytes_in_use() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

}  // namespace test
}  // namespace kelvo
