#include "platform/peer_user.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <optional>

namespace kelvo {
namespace rtc {
namespace web {
namespace {

struct diag_request {
    nlmsghdr header;
    inet_diag_req_v2 query;
};

// The kernel's socket table, asked for the established socket `local` → `remote`: its owner's
// uid. The kernel's lookup by address falls back to a listening socket of the local port, so the
// answer counts only when it is that very connection.
std::optional<uid_t> socket_owner(const tcp_end& local, const tcp_end& remote) {
    const int sock = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (sock < 0) return std::nullopt;
    diag_request request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.query.sdiag_family = AF_INET;
    request.query.sdiag_protocol = IPPROTO_TCP;
    request.query.idiag_states = 1u << TCP_ESTABLISHED;
    request.query.id.idiag_sport = htons(local.port);
    request.query.id.idiag_dport = htons(remote.port);
    request.query.id.idiag_src[0] = htonl(local.address);
    request.query.id.idiag_dst[0] = htonl(remote.address);
    request.query.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    request.query.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    std::optional<uid_t> owner;
    alignas(nlmsghdr) char answer[8192];
    if (sendto(sock, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof kernel) == static_cast<ssize_t>(sizeof request)) {
        const ssize_t length = recv(sock, answer, sizeof answer, 0);
        const auto* reply = reinterpret_cast<const nlmsghdr*>(answer);
        if (length > 0 && NLMSG_OK(reply, static_cast<size_t>(length)) &&
            reply->nlmsg_type == SOCK_DIAG_BY_FAMILY) {
            const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(reply));
            const inet_diag_sockid& id = found->id;
            if (found->idiag_state == TCP_ESTABLISHED && id.idiag_sport == htons(local.port) &&
                id.idiag_dport == htons(remote.port) && id.idiag_src[0] == htonl(local.address) &&
                id.idiag_dst[0] == htonl(remote.address)) {
                owner = found->idiag_uid;
            }
        }
    }
    close(sock);
    return owner;
}

}  // namespace

bool platform_peer_is_own_user(const tcp_end& server, const tcp_end& client) {
    const std::optional<uid_t> owner = socket_owner(client, server);
    return owner && *owner == geteuid();
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
