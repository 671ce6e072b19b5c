// A program of another OS user ("nobody") on this machine, for the tests and load programs that
// check who may use the agent. Making a process of another user needs a program run as root.
//
// The child of a process with threads may only make system calls: another thread may have held
// an allocator's or the sanitizer's lock at the fork. Everything a child needs is made before.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <vector>

namespace kelvo {
namespace test {

// Exit status of a child that could not become "nobody".
constexpr int not_nobody = 9;

// Forks a child that becomes "nobody" and exits with what `child()` returns (system calls only);
// a hang ends it after `most_seconds`. The child's process identifier.
template <typename child_type>
pid_t start_as_nobody(child_type child, unsigned most_seconds = 60) {
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(most_seconds);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(not_nobody);
        _exit(child());
    }
    return pid;
}

// The child's exit status once it has ended; -1 when it did not exit by itself.
inline int exit_status(pid_t child) {
    int status = -1;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

inline sockaddr_in loopback_address_of(const char* address, uint16_t port) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    inet_pton(AF_INET, address, &at.sin_addr);
    return at;
}

// In a child: keeps as many connections to `agent` open as `ring` has room for, ending the oldest
// and opening a new one as fast as it can, never sending a byte, for `seconds`. 0.
inline int churn_connections(const sockaddr_in& agent, std::vector<int>& ring, time_t seconds) {
    const time_t end = time(nullptr) + seconds;
    for (size_t next = 0; time(nullptr) < end; next = (next + 1) % ring.size()) {
        if (ring[next] >= 0) close(ring[next]);
        ring[next] = socket(AF_INET, SOCK_STREAM, 0);
        ::connect(ring[next], reinterpret_cast<const sockaddr*>(&agent), sizeof agent);
    }
    return 0;
}

}  // namespace test
}  // namespace kelvo
