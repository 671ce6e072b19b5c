// What the servers of one agent hold at most, and what they share to keep to it: the places of
// the sites the user has not allowed and the budget of unsent replies are the whole agent's, so
// that a site gets no more by opening connections on both servers.
#pragma once

#include <chrono>
#include <cstddef>

#include "net/site_places.h"
#include "net/unsent_reply_budget.h"

namespace kelvo {
namespace rtc {
namespace web {

struct connection_limits {
    // Connections one server holds at once, handshakes included. A client beyond them is
    // disconnected right after it is accepted, so the pages already connected keep being served
    // and the descriptors of the process do not run out.
    size_t per_server = 256;
    // Connections of one site that the user has not allowed (undecided or blocked), over both
    // servers, and of all such sites together: the rest of each server's places stays for
    // allowed sites and the user's own programs.
    size_t per_site_not_allowed = 32;
    size_t all_not_allowed = 128;
    // A connection of a site that is not allowed, which has done nothing that such a site may do
    // beyond asking about the agent, is closed after this long (never while the user is asked).
    std::chrono::milliseconds idle_not_allowed{30000};
    // Replies waiting unsent for one connection beyond these mean that its page has stopped
    // reading: the connection is closed with 1008. (Stream connections drop whole stale frames.)
    size_t unsent_per_connection = 16 << 20;
    size_t unsent_per_not_allowed_connection = 1 << 20;
    // For the whole agent: once spent, a connection holding more than its even part is closed.
    size_t unsent_in_all = 64 << 20;
};

// The limits and what both servers of an agent count against them. Thread-safe.
struct shared_limits {
    explicit shared_limits(const connection_limits& chosen = connection_limits())
        : limits(chosen),
          places(chosen.per_site_not_allowed, chosen.all_not_allowed),
          unsent(chosen.unsent_in_all) {}

    const connection_limits limits;
    site_places places;
    unsent_reply_budget unsent;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
