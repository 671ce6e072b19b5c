// Windows starts the agent again when it crashes or stops answering, so pages are not left
// without it until the next login. Windows does this only for a process that has run for at
// least a minute (so a program that crashes at once is not started over and over), and never
// after a clean end (Quit, -kill, the session ending).
#pragma once

namespace kelvo {
namespace rtc {
namespace web {

// Registers this process to be started again, without arguments, after a crash or a hang; not
// after a restart of the computer, where the Run key starts it. True when Windows took it.
bool register_crash_restart();

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
