#include "platform/single_instance.h"

#include <windows.h>

namespace kelvo {
namespace rtc {
namespace web {

namespace {

// A mutex does not name its owner: the holder records its process identifier in a small named
// memory beside it, which lives exactly as long as the holder.
constexpr char holder_name[] = "RizudAdaEngineAgent.Holder";

struct lock_state {
    bool held_elsewhere = false;
    unsigned long holder = 0;
};

void recordHolder() {
    // Neither the mapping nor its view is ever released: they go with the process.
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(DWORD), holder_name);
    if (mapping == nullptr) return;
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(DWORD));
    if (view != nullptr) *static_cast<volatile DWORD*>(view) = GetCurrentProcessId();
}

unsigned long readHolder() {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, holder_name);
    if (mapping == nullptr) return 0;
    DWORD holder = 0;
    if (const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(DWORD))) {
        holder = *static_cast<const volatile DWORD*>(view);
        UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
    return holder;
}

const lock_state& lockState() {
    // The mutex handle is never closed: the system releases the mutex when the process ends.
    static const lock_state state = [] {
        lock_state taken;
        HANDLE mutex = CreateMutexA(nullptr, TRUE, "RizudAdaEngineAgent");
        taken.held_elsewhere = mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
        if (taken.held_elsewhere) {
            taken.holder = readHolder();
        } else {
            recordHolder();
        }
        return taken;
    }();
    return state;
}

}  // namespace

bool platform_take_single_instance_lock() {
    return !lockState().held_elsewhere;
}

unsigned long platform_single_instance_holder() {
    return lockState().holder;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
