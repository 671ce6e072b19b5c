// How a server's listening socket holds its port.
#pragma once

#include <cstdint>
#include <system_error>

namespace kelvo {
namespace rtc {
namespace web {

// Called on a listening socket (`native`: its descriptor, or its SOCKET on Windows) after it is
// opened and before it is bound. While the server listens no other socket may bind the port, so
// nobody can take the server's connections and a port in use makes the server's start fail; a
// restart may still bind the port while connections of the previous run wait in TIME_WAIT.
std::error_code platform_prepare_listening_socket(std::uintptr_t native);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
