#include "agent/video_profiles.h"

#include <unordered_map>

namespace kelvo {
namespace rtc {
namespace web {

namespace {

const std::unordered_map<std::string, int>& profile_table() {
    static const std::unordered_map<std::string, int> table = {
        {"120P", 0},     {"120P_3", 2},   {"180P", 10},    {"180P_3", 12},  {"180P_4", 13},
        {"240P", 20},    {"240P_3", 22},  {"240P_4", 23},  {"360P", 30},    {"360P_3", 32},
        {"360P_4", 33},  {"360P_6", 35},  {"360P_7", 36},  {"360P_8", 37},  {"360P_9", 38},
        {"360P_10", 39}, {"360P_11", 100}, {"480P", 40},   {"480P_3", 42},  {"480P_4", 43},
        {"480P_6", 45},  {"480P_8", 47},  {"480P_9", 48},  {"480P_10", 49}, {"720P", 50},
        {"720P_3", 52},  {"720P_5", 54},  {"720P_6", 55},
    };
    return table;
}

}  // namespace

int video_profile_number(const std::string& name) {
    const auto& table = profile_table();
    const auto found = table.find(name);
    return found == table.end() ? -1 : found->second;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
