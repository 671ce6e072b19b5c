#include "app/agent_process.h"

#include <asio.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "platform/dynamic_library.h"
#include "platform/file_contents.h"
#include "support/certificate_pair.h"
#include "support/ws_test_client.h"

namespace kelvo {
namespace test {

namespace fs = std::filesystem;

agent_setup setup_on_free_ports(const std::string& runtime_folder) {
    agent_setup setup;
    setup.tls_port = free_loopback_port();
    do {
        setup.plain_port = free_loopback_port();
    } while (setup.plain_port == setup.tls_port);
    setup.runtime_folder = runtime_folder;
    return setup;
}

namespace {

// With its line ends as "\n": a Windows program writes text as "\r\n".
std::string written_text(const std::string& path) {
    std::string text = rtc::web::platform_read_file(path).value_or("");
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

}  // namespace

agent_process::output_files agent_process::files_for(const agent_setup& setup) {
    if (setup.runtime_folder.empty()) return {};
    // Tests of one setup run several programs, each into files of its own.
    static std::atomic<int> started{0};
    const std::string name = setup.runtime_folder + "/agent-" + std::to_string(++started);
    return {name + ".out", name + ".err"};
}

agent_process::output_files::~output_files() {
    const std::string said = errors.empty() ? "" : written_text(errors);
    if (!said.empty() && ::testing::Test::HasFailure()) {
        std::fprintf(stderr, "the agent's standard error (%s):\n%s", errors.c_str(), said.c_str());
    }
}

std::string agent_process::output() const {
    return written_text(files_.output);
}

std::string agent_process::errors() const {
    return written_text(files_.errors);
}

std::string install_agent_copy(const std::string& folder, const std::string& pass_phrase,
                               const std::string& program) {
    const fs::path built = fs::u8path(program).parent_path();
    const fs::path program_name = fs::u8path(program).filename();
    const std::string engine_name = rtc::web::platform_shared_library_name("rizudada");
    const fs::path installed = fs::u8path(folder);
    // The openssl command takes narrow names: the pair is made in a plain folder, then copied.
    temporary_folder pair_folder;
    std::error_code error;
    fs::create_directories(installed, error);
    const bool made = !error && write_certificate_pair(pair_folder.path(), "kelvo_key.pem",
                                                       pass_phrase);
    for (const fs::path& name : {program_name, fs::path(engine_name)}) {
        if (!error) fs::copy_file(built / name, installed / name, error);
    }
    for (const char* name : {"kelvo_cert_chain.pem", "kelvo_key.pem"}) {
        if (made && !error) fs::copy_file(fs::path(pair_folder.path()) / name, installed / name, error);
    }
    EXPECT_TRUE(made && !error) << "cannot install the agent in " << folder << ": "
                                << error.message();
    return made && !error ? (installed / program_name).u8string() : std::string();
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
