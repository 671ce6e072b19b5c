// Video frames (4 binary messages: a small header and the three I420 planes) sent to one loopback
// client that reads as fast as it can, through our server (send_binary_group, and send_binary
// per message) and through a bare websocketpp server (config::asio, the library's ordinary send),
// in the same run. Prints delivered frames/s, bytes/s, the sender's time per frame, and ratios
// against the bare server.
//
//   net_send_bench [seconds per round, default 1] [rounds, default 3]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <websocketpp/client.hpp>
#include <websocketpp/config/asio_no_tls_client.hpp>

#include "loopback_library_server.h"
#include "net/net_engine.h"
#include "support/free_port.h"
#include "support/recording_net_handler.h"
#include "support/ws_test_client.h"
#include "support/copied_group.h"

namespace {

using namespace kelvo::rtc::web;
using clock_type = std::chrono::steady_clock;

// A websocketpp client that only counts what it receives.
class counting_reader {
public:
    explicit counting_reader(uint16_t port) {
        client_.clear_access_channels(websocketpp::log::alevel::all);
        client_.clear_error_channels(websocketpp::log::elevel::all);
        client_.init_asio();
        client_.set_message_handler([this](websocketpp::connection_hdl, message_ptr message) {
            bytes_ += message->get_payload().size();
            messages_.fetch_add(1, std::memory_order_release);
        });
        std::error_code ec;
        auto con = client_.get_connection("ws://127.0.0.1:" + std::to_string(port) + "/", ec);
        if (ec) {
            std::fprintf(stderr, "client: %s\n", ec.message().c_str());
            std::exit(1);
        }
        client_.connect(con);
        thread_ = std::thread([this] { client_.run(); });
    }
    ~counting_reader() {
        client_.stop();
        thread_.join();
    }
    uint64_t messages() const { return messages_.load(std::memory_order_acquire); }

private:
    using client_type = websocketpp::client<websocketpp::config::asio_client>;
    using message_ptr = client_type::message_ptr;
    client_type client_;
    std::atomic<uint64_t> messages_{0};
    std::atomic<uint64_t> bytes_{0};
    std::thread thread_;
};

// Waits for the one connection a server sees.
class opened_handle {
public:
    void set(websocketpp::connection_hdl handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        handle_ = handle;
        ready_ = true;
        changed_.notify_all();
    }
    websocketpp::connection_hdl wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return ready_; });
        return handle_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    websocketpp::connection_hdl handle_;
    bool ready_ = false;
};

// The baseline: the library's own server and send.
class bare_server {
public:
    bare_server()
        : port(kelvo::test::free_loopback_port()),
          library_(port, [this](loopback_library_server::server_type& server) {
              server.set_open_handler(
                  [this](websocketpp::connection_hdl hdl) { opened.set(hdl); });
          }) {}
    void send(websocketpp::connection_hdl hdl, const std::string& data) {
        library_.server().send(hdl, data.data(), data.size(), websocketpp::frame::opcode::binary);
    }

    const uint16_t port;
    opened_handle opened;

private:
    loopback_library_server library_;
};

struct result {
    double frames_per_second = 0;
    double bytes_per_second = 0;
    double send_microseconds_per_frame = 0;
};

// Keeps at most `window` frames in flight and sends for `seconds`; counts what was delivered.
result measure(const std::function<void()>& send_frame, const counting_reader& reader,
               size_t frame_bytes, double seconds) {
    constexpr uint64_t window = 4;
    const uint64_t start_messages = reader.messages();
    uint64_t frames = 0;
    clock_type::duration sending{};
    const auto start = clock_type::now();
    const auto end = start + std::chrono::duration_cast<clock_type::duration>(
                                 std::chrono::duration<double>(seconds));
    while (clock_type::now() < end) {
        while (frames >= window && (frames - window) * 4 > reader.messages() - start_messages) {
            std::this_thread::yield();
        }
        const auto before = clock_type::now();
        send_frame();
        sending += clock_type::now() - before;
        ++frames;
    }
    while (reader.messages() - start_messages < frames * 4) {
        std::this_thread::yield();
    }
    const double elapsed = std::chrono::duration<double>(clock_type::now() - start).count();
    result measured;
    measured.frames_per_second = static_cast<double>(frames) / elapsed;
    measured.bytes_per_second = measured.frames_per_second * static_cast<double>(frame_bytes);
    measured.send_microseconds_per_frame =
        std::chrono::duration<double, std::micro>(sending).count() / static_cast<double>(frames);
    return measured;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;

    net_engine engine;
    kelvo::test::recording_net_handler handler;
    engine.set_handler(&handler);
    const uint16_t port = kelvo::test::start_plain_server(engine);
    if (port == 0) {
        std::fprintf(stderr, "no free port for the server\n");
        return 1;
    }
    counting_reader our_reader(port);
    if (!handler.wait_calls("opened", 1)) {
        std::fprintf(stderr, "the reader did not connect\n");
        return 1;
    }
    const connection_handle ours = handler.calls("opened")[0].handle;

    bare_server bare;
    counting_reader bare_reader(bare.port);
    const websocketpp::connection_hdl bare_handle = bare.opened.wait();

    struct frame_size {
        const char* name;
        size_t width;
        size_t height;
    };
    const frame_size sizes[] = {{"640x480", 640, 480}, {"1920x1080", 1920, 1080}};
    std::printf("%-10s %-22s %12s %12s %14s %10s %12s\n", "frame", "path", "frames/s", "msgs/s",
                "MB/s", "ratio", "send us/frm");
    for (const frame_size& size : sizes) {
        const size_t luma = size.width * size.height;
        const std::string pieces[4] = {std::string(16, 'h'), std::string(luma, 'y'),
                                       std::string(luma / 4, 'u'), std::string(luma / 4, 'v')};
        size_t frame_bytes = 0;
        for (const std::string& piece : pieces) frame_bytes += piece.size();
        const kelvo::test::copied_group group({pieces[0], pieces[1], pieces[2], pieces[3]});
        const std::function<void()> paths[3] = {
            [&] {
                for (const std::string& piece : pieces) {
                    bare.send(bare_handle, piece);
                }
            },
            [&] { engine.send_binary_group(0, ours, group.group(), nullptr); },
            [&] {
                int32_t n = 4;
                engine.send_binary(0, ours, pieces[0].data(), pieces[0].size(), &n);
                for (int i = 1; i < 4; ++i) {
                    engine.send_binary(0, ours, pieces[i].data(), pieces[i].size(), nullptr);
                }
            },
        };
        const char* names[3] = {"bare websocketpp send", "send_binary_group", "send_binary x4"};
        const counting_reader* readers[3] = {&bare_reader, &our_reader, &our_reader};
        std::vector<double> fps[3], send_us[3];
        for (int round = 0; round < rounds; ++round) {
            for (int path = 0; path < 3; ++path) {
                result measured = measure(paths[path], *readers[path], frame_bytes, seconds);
                fps[path].push_back(measured.frames_per_second);
                send_us[path].push_back(measured.send_microseconds_per_frame);
            }
        }
        const double baseline = median(fps[0]);
        const double baseline_send = median(send_us[0]);
        for (int path = 0; path < 3; ++path) {
            const double frames = median(fps[path]);
            std::printf("%-10s %-22s %12.1f %12.1f %14.1f %10.3f %12.1f (x%.3f)\n", size.name,
                        names[path], frames, frames * 4, frames * frame_bytes / 1e6,
                        frames / baseline, median(send_us[path]),
                        median(send_us[path]) / baseline_send);
        }
    }
    return 0;
}
