#include "platform/single_instance.h"

#include <windows.h>

namespace kelvo {
namespace rtc {
namespace web {

bool platform_take_single_instance_lock() {
    // The handle is never closed: the system releases the mutex when the process ends.
    static const bool held_elsewhere = [] {
        HANDLE mutex = CreateMutexA(nullptr, TRUE, "RizudAdaEngineAgent");
        return mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    }();
    return !held_elsewhere;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
