#include "platform/peer_user.h"

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <memory>
#include <optional>
#include <vector>

namespace kelvo {
namespace rtc {
namespace web {
namespace {

// Room for this many more rows than the table needed when it was measured: connections opened
// meanwhile would make the next read too small again.
constexpr DWORD spare_rows = 256;

// The process that holds the client end: the established TCP row whose local end is the
// client's address and port and whose remote end is the server's.
// Each read of the table can be slow (Wine serves it from another process, a read takes a few
// hundred milliseconds on a busy machine), so the first read goes into a buffer big enough for
// most machines' tables instead of asking the size first; only a bigger table is read again.
std::optional<DWORD> client_process(const tcp_end& server, const tcp_end& client) {
    DWORD size = 1024 * sizeof(MIB_TCPROW_OWNER_PID);
    std::vector<unsigned char> table;
    DWORD status = ERROR_INSUFFICIENT_BUFFER;
    for (int attempt = 0; attempt < 4 && status == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        table.resize(size);
        status = GetExtendedTcpTable(table.data(), &size, FALSE, AF_INET,
                                     TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
        size += spare_rows * sizeof(MIB_TCPROW_OWNER_PID);
    }
    if (status != NO_ERROR) return std::nullopt;
    const auto* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
    for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
        const MIB_TCPROW_OWNER_PID& row = rows->table[i];
        if (row.dwState == MIB_TCP_STATE_ESTAB && ntohl(row.dwLocalAddr) == client.address &&
            ntohs(static_cast<u_short>(row.dwLocalPort)) == client.port &&
            ntohl(row.dwRemoteAddr) == server.address &&
            ntohs(static_cast<u_short>(row.dwRemotePort)) == server.port) {
            return row.dwOwningPid;
        }
    }
    return std::nullopt;
}

// The user of a process's token; empty when it cannot be read.
std::vector<unsigned char> process_user(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) user.clear();
    CloseHandle(token);
    return user;
}

bool same_user(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    return !a.empty() && !b.empty() &&
           EqualSid(reinterpret_cast<const TOKEN_USER*>(a.data())->User.Sid,
                    reinterpret_cast<const TOKEN_USER*>(b.data())->User.Sid);
}

}  // namespace

// Wine lists the client's end of a connection its server has only just accepted without a process
// (0), or not at all, until the client's program has used its socket (a real Windows lists it
// with its process at once).
peer_owner platform_peer_owner(const tcp_end& server, const tcp_end& client) {
    const std::optional<DWORD> pid = client_process(server, client);
    if (!pid || *pid == 0) return peer_owner::not_listed_yet;
    if (*pid == GetCurrentProcessId()) return peer_owner::own_user;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, *pid);
    if (process == nullptr) return peer_owner::other_user;
    const bool own = same_user(process_user(process), process_user(GetCurrentProcess()));
    CloseHandle(process);
    return own ? peer_owner::own_user : peer_owner::other_user;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
