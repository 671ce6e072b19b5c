// The library's two entry points.
#include <kelvo/rizudada_engine.h>

#include "scripted_engine.h"

RIZUDADA_API kelvo::rtc::IRtcEngine* RIZUDADA_CALL createRizudAdaEngine() {
    return kelvo::rtc::msvc_abi::scripted_engine::create();
}

RIZUDADA_API const char* RIZUDADA_CALL getRizudAdaEngineVersion(int* build) {
    if (build != nullptr) *build = 2;
    return "1.0.0-msvc-abi";
}
