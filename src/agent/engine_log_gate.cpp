#include "agent/engine_log_gate.h"

#include <thread>

namespace kelvo {
namespace rtc {
namespace web {

void engine_log_gate::open(kelvo::rtc::IRtcEngine* engine) { engine_.store(engine); }

// A writer inside the engine is one log call away from returning, so waiting for it by yielding
// is short; a lock here would make writers on engine threads wait for the releasing thread.
void engine_log_gate::close() {
    engine_.store(nullptr);
    while (writers_.load() != 0) std::this_thread::yield();
}

void engine_log_gate::write(kelvo::rtc::LOG_LEVEL level, const char* line) {
    writers_.fetch_add(1);
    if (kelvo::rtc::IRtcEngine* engine = engine_.load()) engine->writeLog(level, line);
    writers_.fetch_sub(1);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
