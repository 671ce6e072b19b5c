#include "access/sites_file.h"

#include <cjson/cJSON.h>

#include <cstring>
#include <memory>

#include "access/origin.h"
#include "base/json_value.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

const char origins_key[] = "origins";
const char allowed_text[] = "allowed";
const char blocked_text[] = "blocked";

using json_tree = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

// False for a member that is not "<origin>": "allowed" | "blocked".
bool readMember(const cJSON* member, site_map& sites) {
    const std::string origin = normalize_origin(member->string);
    const char* text = cJSON_GetStringValue(member);
    if (origin.empty() || text == nullptr) return false;
    if (std::strcmp(text, allowed_text) == 0) {
        if (origin != "null") sites[origin] = site_decision::allowed;
        return true;
    }
    if (std::strcmp(text, blocked_text) != 0) return false;
    sites[origin] = site_decision::blocked;
    return true;
}

}  // namespace

std::optional<site_map> parse_sites_text(const std::string& text) {
    // A zero byte would end the text for the parser, and whatever followed it would be lost
    // at the next write. Nothing but blanks may follow the object.
    if (text.find('\0') != std::string::npos) return std::nullopt;
    const json_tree root(cJSON_ParseWithOpts(text.c_str(), nullptr, true), cJSON_Delete);
    const cJSON* origins = cJSON_GetObjectItemCaseSensitive(root.get(), origins_key);
    if (!cJSON_IsObject(root.get()) || !cJSON_IsObject(origins)) return std::nullopt;
    site_map sites;
    for (const cJSON* member = origins->child; member != nullptr; member = member->next) {
        if (!readMember(member, sites)) return std::nullopt;
    }
    return sites;
}

std::string sites_text(const site_map& sites) {
    JsonValue origins;
    origins.makeObject();
    for (const auto& site : sites) {
        origins.setString(site.first.c_str(),
                          site.second == site_decision::allowed ? allowed_text : blocked_text);
    }
    JsonValue root;
    root.makeObject();
    root.setValue(origins_key, origins);
    return root.toString() + "\n";
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
