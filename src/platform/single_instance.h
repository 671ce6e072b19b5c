// One agent per user session: a process-wide lock named "RizudAdaEngineAgent".
#pragma once

namespace kelvo {
namespace rtc {
namespace web {

// Takes the single-instance lock for the rest of the process's life (the system releases it when
// the process ends). False when another process already holds it; true otherwise, including when
// the lock could not be created at all: the agent then runs as the only instance.
bool platform_take_single_instance_lock();

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
