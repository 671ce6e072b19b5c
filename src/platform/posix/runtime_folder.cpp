#include "platform/posix/runtime_folder.h"

#include <cstdlib>

namespace kelvo {
namespace rtc {
namespace web {

std::string platform_runtime_folder() {
    for (const char* name : {"KELVO_AGENT_RUNTIME_DIR", "XDG_RUNTIME_DIR", "TMPDIR"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return value;
    }
    return "/tmp";
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
