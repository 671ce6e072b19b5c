#include "net/host_validation.h"

namespace kelvo {
namespace rtc {
namespace web {

bool is_accepted_host(const std::string& host) {
    return host == "127.0.0.1" || host == loopback_host_name;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
