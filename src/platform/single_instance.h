// One agent per user session: a process-wide lock named "RizudAdaEngineAgent".
#pragma once

namespace kelvo {
namespace rtc {
namespace web {

// Takes the single-instance lock for the rest of the process's life (the system releases it when
// the process ends). False when another process already holds it; true otherwise, including when
// the lock could not be created at all: the agent then runs as the only instance.
bool platform_take_single_instance_lock();

// After platform_take_single_instance_lock() returned false: the process identifier of the
// instance that holds the lock, as that instance recorded it beside the lock; 0 when it is not
// known (the holder has only just taken the lock, or could not record itself).
unsigned long platform_single_instance_holder();

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
