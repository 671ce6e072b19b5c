// The rules that pick shareable windows, apart from the system calls that feed them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo {
namespace rtc {
namespace web {

struct process_entry {
    uint32_t id;
    uint32_t parent;
    std::wstring executable;
};

// Every "explorer.exe" process, then each direct child of one of them (not their children).
std::vector<uint32_t> shell_process_ids(const std::vector<process_entry>& processes);

// Visible, with a popup or system-menu style, and not minimised.
bool is_shareable_window(uint32_t style, bool minimised);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
