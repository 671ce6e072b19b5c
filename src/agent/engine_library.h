// The process-wide holder of the engine library: loaded once on first use, freed at process exit.
#pragma once

#include <string>

#include <kelvo/rizudada_engine.h>

namespace kelvo {
namespace rtc {
namespace web {

class engine_library {
public:
    // The program's holder: the library from the program's folder, failing that by plain name.
    static engine_library& instance();

    // A holder for the library at `path` (tests); the entry points are resolved at once.
    explicit engine_library(const std::string& path);
    // As the program's holder: the library at `path`, failing that the one called `plain_name`
    // found the system's way.
    engine_library(const std::string& path, const std::string& plain_name);
    ~engine_library();
    engine_library(const engine_library&) = delete;
    engine_library& operator=(const engine_library&) = delete;

    // A new engine object, or null when the library or its entry point is missing.
    kelvo::rtc::IRtcEngine* create_engine() const;
    // The engine library's version text, or null when unavailable.
    const char* version() const;
    // Whether a library was loaded (with or without the entry points).
    bool loaded() const;

private:
    engine_library();
    void resolve();

    void* library_ = nullptr;
    createRizudAdaEngine_t create_ = nullptr;
    getRizudAdaEngineVersion_t version_ = nullptr;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
