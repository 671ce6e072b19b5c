#include "app/agent_process.h"

#include <asio.hpp>

#include <filesystem>
#include <random>
#include <thread>

#include <gtest/gtest.h>

namespace kelvo {
namespace test {

namespace fs = std::filesystem;

// Platform part of port_holder: how a listening socket keeps others off its port.
void reserve_port_exclusively(asio::ip::tcp::acceptor& acceptor);

temporary_folder::temporary_folder() {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const fs::path candidate =
            fs::temp_directory_path() / ("kelvo-app-" + std::to_string(random() % 100000000u));
        std::error_code error;
        if (fs::create_directory(candidate, error)) path_ = candidate.string();
    }
    EXPECT_FALSE(path_.empty()) << "no temporary folder could be made";
}

temporary_folder::~temporary_folder() {
    std::error_code error;
    if (!path_.empty()) fs::remove_all(path_, error);
}

bool port_accepts(uint16_t port) {
    asio::io_context io;
    asio::ip::tcp::socket socket(io);
    asio::error_code error;
    socket.connect({asio::ip::address_v4::loopback(), port}, error);
    return !error;
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool wait_serving(const agent_setup& setup, agent_process& process) {
    return wait_until([&] {
        return !process.running() ||
               (port_accepts(setup.tls()) && port_accepts(setup.plain()) &&
                control_window_present(setup));
    }) && process.running();
}

struct port_holder::impl {
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor{io};
    bool holding = false;
};

port_holder::port_holder(uint16_t port) : impl_(std::make_unique<impl>()) {
    asio::error_code error;
    impl_->acceptor.open(asio::ip::tcp::v4(), error);
    if (!error) reserve_port_exclusively(impl_->acceptor);
    if (!error) impl_->acceptor.bind({asio::ip::address_v4::loopback(), port}, error);
    if (!error) impl_->acceptor.listen(asio::socket_base::max_listen_connections, error);
    impl_->holding = !error;
}

port_holder::~port_holder() = default;

bool port_holder::holding() const {
    return impl_->holding;
}

}  // namespace test
}  // namespace kelvo
