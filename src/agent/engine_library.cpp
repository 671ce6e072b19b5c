#include "agent/engine_library.h"

#include "platform/dynamic_library.h"
#include "platform/module_path.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

const char engine_library_base_name[] = "rizudada";

}  // namespace

engine_library& engine_library::instance() {
    // Built on first use, destroyed (library freed) when the process exits.
    static engine_library holder;
    return holder;
}

engine_library::engine_library()
    : engine_library(platform_path_in_directory(platform_module_directory(),
                                                platform_shared_library_name(engine_library_base_name)),
                     platform_shared_library_name(engine_library_base_name)) {}

engine_library::engine_library(const std::string& path) : library_(platform_load_library(path)) {
    resolve();
}

engine_library::engine_library(const std::string& path, const std::string& plain_name)
    : library_(platform_load_library(path)) {
    if (!library_) library_ = platform_load_library(plain_name);
    resolve();
}

engine_library::~engine_library() { platform_free_library(library_); }

void engine_library::resolve() {
    create_ = reinterpret_cast<createRizudAdaEngine_t>(
        platform_library_symbol(library_, "createRizudAdaEngine"));
    // The version is only asked of a library that can make engines.
    if (create_) {
        version_ = reinterpret_cast<getRizudAdaEngineVersion_t>(
            platform_library_symbol(library_, "getRizudAdaEngineVersion"));
    }
}

bool engine_library::loaded() const { return library_ != nullptr; }

kelvo::rtc::IRtcEngine* engine_library::create_engine() const { return create_ ? create_() : nullptr; }

const char* engine_library::version() const {
    if (!version_) return nullptr;
    int build = 0;
    return version_(&build);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
