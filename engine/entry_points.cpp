// The library's two exported entry points.
#include <exception>

#include "standin_engine.h"

RIZUDADA_API kelvo::rtc::IRtcEngine* RIZUDADA_CALL createRizudAdaEngine() {
    try {
        return new kelvo::rtc::standin::standin_engine();
    } catch (const std::exception&) {
        return nullptr;  // no threads or memory: no engine
    }
}

RIZUDADA_API const char* RIZUDADA_CALL getRizudAdaEngineVersion(int* build) {
    if (build) *build = 1;
    return "1.0.0-standin";
}
