#include "platform/peer_user.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
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

// A thread's socket to the kernel's socket table, opened at its first question and kept: a
// server out of descriptors still accepts a client once a place frees up, and a socket made for
// each question would then find none left to check who the client is.
class socket_table {
public:
    ~socket_table() { close_socket(); }

    // The owner of the established socket `local` → `remote`. The kernel's lookup by address
    // falls back to a listening socket of the local port, so the answer counts only when it is
    // that very connection.
    std::optional<uid_t> owner(const tcp_end& local, const tcp_end& remote) {
        if (sock_ < 0) open_socket();
        if (sock_ < 0) return std::nullopt;
        diag_request request{};
        request.header.nlmsg_len = sizeof request;
        request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
        request.header.nlmsg_flags = NLM_F_REQUEST;
        request.header.nlmsg_seq = ++sequence_;
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
        if (sendto(sock_, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
                   sizeof kernel) != static_cast<ssize_t>(sizeof request)) {
            close_socket();
            return std::nullopt;
        }
        // One answer per question (the socket, or an error when there is none); an answer left
        // from an earlier question that gave up waiting is passed over.
        alignas(nlmsghdr) char answer[8192];
        for (;;) {
            const ssize_t length = recv(sock_, answer, sizeof answer, 0);
            const auto* reply = reinterpret_cast<const nlmsghdr*>(answer);
            if (length <= 0 || !NLMSG_OK(reply, static_cast<size_t>(length))) {
                close_socket();
                return std::nullopt;
            }
            if (reply->nlmsg_seq != sequence_) continue;
            if (reply->nlmsg_type != SOCK_DIAG_BY_FAMILY) return std::nullopt;
            const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(reply));
            const inet_diag_sockid& id = found->id;
            if (found->idiag_state == TCP_ESTABLISHED && id.idiag_sport == htons(local.port) &&
                id.idiag_dport == htons(remote.port) && id.idiag_src[0] == htonl(local.address) &&
                id.idiag_dst[0] == htonl(remote.address)) {
                return found->idiag_uid;
            }
            return std::nullopt;
        }
    }

private:
    void open_socket() {
        sock_ = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
        if (sock_ < 0) return;
        // The kernel answers at once; a server thread never waits long for it.
        timeval wait{1, 0};
        setsockopt(sock_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }
    void close_socket() {
        if (sock_ >= 0) close(sock_);
        sock_ = -1;
    }

    int sock_ = -1;
    uint32_t sequence_ = 0;
};

}  // namespace

peer_owner platform_peer_owner(const tcp_end& server, const tcp_end& client) {
    thread_local socket_table table;
    const std::optional<uid_t> owner = table.owner(client, server);
    return owner && *owner == geteuid() ? peer_owner::own_user : peer_owner::other_user;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
