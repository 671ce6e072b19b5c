// The remembered decisions about sites as the tray's "Sites..." window reaches them: the program
// wires them to its site_decisions (access/site_decisions.h), whose list() and forget() they
// call. Both are set, or neither (the menu item is then greyed).
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "access/site_decisions.h"

namespace kelvo {
namespace rtc {
namespace web {

struct site_list {
    // Every remembered decision, in the order of their origins.
    std::function<std::vector<std::pair<std::string, site_decision>>()> list;
    // Forgets what is remembered about the origin.
    std::function<void(const std::string&)> forget;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
