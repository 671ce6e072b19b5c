// The windows a page may share: the last listing's identifiers, mapped to native window handles.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "base/json_value.h"

namespace kelvo {
namespace rtc {
namespace web {

class shareable_windows {
public:
    // Lists the desktop ("Screen") and the shell's windows into `list`, each with a fresh
    // identifier and its title in Base64; the earlier listing's identifiers are forgotten.
    void list(JsonValue& list);
    // The native handle of a listed window; 0 for an identifier of no listing.
    intptr_t handle_of(const std::string& window_id) const;

private:
    std::unordered_map<std::string, intptr_t> handles_;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
