// A bare TCP connection to a WebSocket server, for what a well-behaved client cannot send:
// hand-made handshakes and frames, bytes that are not UTF-8, and abrupt resets.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace kelvo {
namespace test {

class raw_connection {
public:
    // With `receive_buffer` (bytes) the socket's receive buffer is fixed at about that size, so
    // little of what the server sends can wait in the socket while this side does not read.
    explicit raw_connection(uint16_t port, int receive_buffer = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd_ >= 0 && receive_buffer > 0) {
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~raw_connection() {
        if (fd_ >= 0) ::close(fd_);
    }
    raw_connection(const raw_connection&) = delete;
    raw_connection& operator=(const raw_connection&) = delete;

    bool ok() const { return fd_ >= 0; }
    int descriptor() const { return fd_; }
    // True once the peer has ended the connection (an orderly end or a reset).
    bool ended_by_peer() const { return ended_by_peer_; }

    // Ends the connection with a TCP reset instead of an orderly close.
    void reset() {
        if (fd_ < 0) return;
        linger abort_on_close{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
        ::close(fd_);
        fd_ = -1;
    }

    bool send_all(const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    // Reads until `enough` accepts what has come, the peer closes, or the deadline passes.
    std::string read_until(bool (*enough)(const std::string&),
                           std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!enough(received_)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                ended_by_peer_ = true;
                break;
            }
            received_.append(buffer, static_cast<size_t>(n));
        }
        return received_;
    }

    static std::string handshake(uint16_t port, const std::string& extra_headers = std::string()) {
        return "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
               "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
               extra_headers + "\r\n";
    }

    // The header a browser adds for a page of `origin`.
    static std::string origin_header(const std::string& origin) {
        return "Origin: " + origin + "\r\n";
    }

    // Completes the upgrade; true on "101".
    bool upgrade(uint16_t port) { return upgrade_status(port) == 101; }
    // Sends the upgrade request with these headers added; the answer's HTTP status (101 when
    // upgraded), or -1 when none came.
    int upgrade_status(uint16_t port, const std::string& extra_headers = std::string()) {
        if (!ok() || !send_all(handshake(port, extra_headers))) return -1;
        const std::string answer = read_until(
            [](const std::string& r) { return r.find("\r\n\r\n") != std::string::npos; });
        const int status = answer.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(answer.c_str() + 9) : -1;
        received_.erase(0, std::min(received_.size(), answer.find("\r\n\r\n") + 4));
        return status;
    }

    // A masked (all-zero mask) client frame holding `payload`.
    static std::string client_frame(uint8_t opcode, const std::string& payload) {
        std::string frame(1, static_cast<char>(0x80 | opcode));
        if (payload.size() < 126) {
            frame += static_cast<char>(0x80 | payload.size());
        } else {
            const int length_bytes = payload.size() <= 0xFFFF ? 2 : 8;
            frame += static_cast<char>(0x80 | (length_bytes == 2 ? 126 : 127));
            for (int shift = 8 * (length_bytes - 1); shift >= 0; shift -= 8) {
                frame += static_cast<char>((payload.size() >> shift) & 0xFF);
            }
        }
        frame.append(4, '\0');
        return frame + payload;
    }

    // The close code of the first close frame from the server, after any data frames before it;
    // 0 when none came. Its reason goes to `reason` when given.
    int close_code(std::string* reason = nullptr,
                   std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const std::string bytes = read_until(
            [](const std::string& r) { return close_frame_in(r).size() >= 2; }, timeout);
        const std::string payload = close_frame_in(bytes);
        if (payload.size() < 2) return 0;
        if (reason) *reason = payload.substr(2);
        return (static_cast<uint8_t>(payload[0]) << 8) | static_cast<uint8_t>(payload[1]);
    }

private:
    // The payload of the first complete close frame among the unmasked server frames that
    // `bytes` begins with; empty when there is none yet.
    static std::string close_frame_in(const std::string& bytes) {
        size_t at = 0;
        while (at + 2 <= bytes.size()) {
            const uint8_t opcode = static_cast<uint8_t>(bytes[at]) & 0x0F;
            uint64_t length = static_cast<uint8_t>(bytes[at + 1]) & 0x7F;
            size_t header = 2;
            if (length >= 126) {
                const size_t length_bytes = length == 126 ? 2 : 8;
                if (at + 2 + length_bytes > bytes.size()) break;
                length = 0;
                for (size_t i = 0; i < length_bytes; ++i) {
                    length = (length << 8) | static_cast<uint8_t>(bytes[at + 2 + i]);
                }
                header += length_bytes;
            }
            if (at + header + length > bytes.size()) break;
            if (opcode == 0x8) return bytes.substr(at + header, static_cast<size_t>(length));
            at += header + static_cast<size_t>(length);
        }
        return std::string();
    }

    int fd_ = -1;
    bool ended_by_peer_ = false;
    std::string received_;
};

}  // namespace test
}  // namespace kelvo
