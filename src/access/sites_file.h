// The text of sites.json: {"origins":{"<origin>":"allowed"|"blocked",...}}.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "access/site_decisions.h"

namespace kelvo {
namespace rtc {
namespace web {

// Remembered decisions by normalized origin: allowed or blocked, never undecided.
using site_map = std::map<std::string, site_decision>;

// The decisions the text holds, origins normalized; none when it is not such a file (not JSON,
// another shape, an origin that is not one, a decision other than "allowed" or "blocked", a zero
// byte anywhere).
// "null" allowed, which nothing writes, is left out.
std::optional<site_map> parse_sites_text(const std::string& text);

// The file's text for these decisions.
std::string sites_text(const site_map& sites);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
