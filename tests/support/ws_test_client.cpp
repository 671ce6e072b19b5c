#include "support/ws_test_client.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

#include <asio.hpp>
#include <asio/ssl.hpp>
#include <websocketpp/client.hpp>
#include <websocketpp/config/asio_client.hpp>

namespace kelvo {
namespace test {

namespace {

using websocketpp::connection_hdl;

using plain_config = websocketpp::config::asio_client;
using tls_config = websocketpp::config::asio_tls_client;

std::shared_ptr<asio::ssl::context> unverified_tls_context() {
    auto context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_client);
    context->set_verify_mode(asio::ssl::verify_none);
    return context;
}

void set_tls_init(websocketpp::client<plain_config>&) {}
void set_tls_init(websocketpp::client<tls_config>& endpoint) {
    endpoint.set_tls_init_handler([](connection_hdl) { return unverified_tls_context(); });
}

}  // namespace

struct ws_test_client::impl {
    virtual ~impl() = default;
    virtual bool connect(const std::string& host, uint16_t port,
                         std::chrono::milliseconds timeout) = 0;
    virtual bool send(const std::string& data, bool binary) = 0;
    virtual void close(int code, const std::string& reason) = 0;
    virtual bool ping() = 0;
    // Queues hold_io on the I/O thread.
    virtual void post_hold() = 0;

    enum class phase { idle, connecting, open, ended };

    mutable std::mutex mutex;
    std::condition_variable changed;
    phase state = phase::idle;
    std::deque<std::string> texts;
    std::deque<std::string> binaries;
    size_t text_total = 0;
    size_t binary_total = 0;
    uint64_t binary_byte_total = 0;
    close_info closed;
    bool paused = false;
    bool pause_reached = false;
    size_t pong_total = 0;
    std::string origin;

    template <typename Predicate>
    bool wait_for(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds timeout,
                  Predicate predicate) {
        return changed.wait_for(lock, timeout, predicate);
    }

    void set_phase(phase next) {
        std::lock_guard<std::mutex> lock(mutex);
        state = next;
        changed.notify_all();
    }

    // Runs on the I/O thread and holds it until resume_reading.
    void hold_io() {
        std::unique_lock<std::mutex> lock(mutex);
        pause_reached = true;
        changed.notify_all();
        changed.wait(lock, [this] { return !paused; });
        pause_reached = false;
    }
};

namespace {

template <typename config>
class client_impl final : public ws_test_client::impl {
public:
    using endpoint_type = websocketpp::client<config>;
    using message_ptr = typename endpoint_type::message_ptr;

    explicit client_impl(bool secure) : secure_(secure) {
        endpoint_.clear_access_channels(websocketpp::log::alevel::all);
        endpoint_.clear_error_channels(websocketpp::log::elevel::all);
        endpoint_.init_asio();
        endpoint_.start_perpetual();
        set_tls_init(endpoint_);
        endpoint_.set_open_handler([this](connection_hdl) { set_phase(phase::open); });
        endpoint_.set_fail_handler([this](connection_hdl hdl) { on_end(hdl, false); });
        endpoint_.set_close_handler([this](connection_hdl hdl) { on_end(hdl, true); });
        endpoint_.set_pong_handler([this](connection_hdl, std::string) {
            std::lock_guard<std::mutex> lock(mutex);
            ++pong_total;
            changed.notify_all();
        });
        endpoint_.set_message_handler([this](connection_hdl, message_ptr message) {
            std::lock_guard<std::mutex> lock(mutex);
            if (message->get_opcode() == websocketpp::frame::opcode::binary) {
                ++binary_total;
                binary_byte_total += message->get_payload().size();
                binaries.push_back(std::move(message->get_raw_payload()));
            } else {
                ++text_total;
                texts.push_back(std::move(message->get_raw_payload()));
            }
            changed.notify_all();
        });
        thread_ = std::thread([this] {
            try {
                endpoint_.run();
            } catch (const std::exception&) {
            }
        });
    }

    ~client_impl() override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            paused = false;
            changed.notify_all();
        }
        endpoint_.stop_perpetual();
        endpoint_.stop();
        thread_.join();
    }

    bool connect(const std::string& host, uint16_t port,
                 std::chrono::milliseconds timeout) override {
        std::error_code ec;
        const std::string scheme = secure_ ? "wss" : "ws";
        auto con = endpoint_.get_connection(
            scheme + "://127.0.0.1:" + std::to_string(port) + "/", ec);
        if (ec) {
            return false;
        }
        // The TCP (and TLS) connection goes to 127.0.0.1; the handshake then names `host`.
        auto wanted = std::make_shared<websocketpp::uri>(secure_, host, port, "/");
        typename endpoint_type::connection_weak_ptr weak = con;
        con->set_tcp_post_init_handler([weak, wanted](connection_hdl) {
            if (auto live = weak.lock()) {
                live->set_uri(wanted);
            }
        });
        if (!origin.empty()) con->replace_header("Origin", origin);
        // The library's own limit for the handshake (5 s) would end a wait the caller allows to
        // be longer.
        con->set_open_handshake_timeout(timeout.count());
        handle_ = con->get_handle();
        set_phase(phase::connecting);
        endpoint_.connect(con);
        std::unique_lock<std::mutex> lock(mutex);
        wait_for(lock, timeout, [this] { return state != phase::connecting; });
        return state == phase::open;
    }

    bool send(const std::string& data, bool binary) override {
        return on_io_thread([&](std::error_code& ec) {
            endpoint_.send(handle_, data,
                           binary ? websocketpp::frame::opcode::binary
                                  : websocketpp::frame::opcode::text,
                           ec);
        });
    }

    void close(int code, const std::string& reason) override {
        on_io_thread([&](std::error_code& ec) {
            endpoint_.close(handle_, static_cast<websocketpp::close::status::value>(code),
                            reason, ec);
        });
    }

    bool ping() override {
        return on_io_thread(
            [&](std::error_code& ec) { endpoint_.ping(handle_, std::string(), ec); });
    }

    void post_hold() override { asio::post(endpoint_.get_io_service(), [this] { hold_io(); }); }

private:
    // websocketpp reads a connection's state on its I/O thread without the connection's lock, so
    // every operation on the connection runs there; the caller waits for its outcome. While
    // reading is paused the operation waits until it resumes (the I/O thread is held).
    template <typename operation>
    bool on_io_thread(operation run) {
        std::promise<bool> done;
        std::future<bool> outcome = done.get_future();
        asio::post(endpoint_.get_io_service(), [&] {
            std::error_code ec;
            run(ec);
            done.set_value(!ec);
        });
        return outcome.get();
    }

    void on_end(connection_hdl hdl, bool closed_by_frame) {
        std::error_code ec;
        auto con = endpoint_.get_con_from_hdl(hdl, ec);
        std::lock_guard<std::mutex> lock(mutex);
        closed = close_info{1006, std::string()};
        if (con && closed_by_frame && con->get_remote_close_code() !=
                                          websocketpp::close::status::no_status) {
            closed.code = con->get_remote_close_code();
            closed.reason = con->get_remote_close_reason();
        }
        state = phase::ended;
        changed.notify_all();
    }

    const bool secure_;
    endpoint_type endpoint_;
    connection_hdl handle_;
    std::thread thread_;
};

}  // namespace

ws_test_client::ws_test_client(bool tls) {
    if (tls) {
        impl_ = std::make_unique<client_impl<tls_config>>(true);
    } else {
        impl_ = std::make_unique<client_impl<plain_config>>(false);
    }
}

ws_test_client::~ws_test_client() = default;

bool ws_test_client::connect(const std::string& host, uint16_t port,
                             std::chrono::milliseconds timeout) {
    return impl_->connect(host, port, timeout);
}

void ws_test_client::set_origin(const std::string& origin) { impl_->origin = origin; }

bool ws_test_client::send_text(const std::string& text) { return impl_->send(text, false); }

bool ws_test_client::send_binary(const std::string& data) { return impl_->send(data, true); }

void ws_test_client::close(int code, const std::string& reason) { impl_->close(code, reason); }

bool ws_test_client::ping_round_trip(std::chrono::milliseconds timeout) {
    size_t before = 0;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        before = impl_->pong_total;
    }
    if (!impl_->ping()) return false;
    std::unique_lock<std::mutex> lock(impl_->mutex);
    return impl_->wait_for(lock, timeout, [&] { return impl_->pong_total > before; });
}

namespace {

std::optional<std::string> take(ws_test_client::impl& impl, std::deque<std::string>& queue,
                                std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(impl.mutex);
    if (!impl.wait_for(lock, timeout, [&queue] { return !queue.empty(); })) {
        return std::nullopt;
    }
    std::string front = std::move(queue.front());
    queue.pop_front();
    return front;
}

}  // namespace

std::optional<std::string> ws_test_client::wait_text(std::chrono::milliseconds timeout) {
    return take(*impl_, impl_->texts, timeout);
}

std::optional<std::string> ws_test_client::wait_binary(std::chrono::milliseconds timeout) {
    return take(*impl_, impl_->binaries, timeout);
}

std::optional<close_info> ws_test_client::wait_close(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    if (!impl_->wait_for(lock, timeout, [this] { return impl_->state == impl::phase::ended; })) {
        return std::nullopt;
    }
    return impl_->closed;
}

bool ws_test_client::is_open() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->state == impl::phase::open;
}

size_t ws_test_client::text_count() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->text_total;
}

size_t ws_test_client::binary_count() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->binary_total;
}

uint64_t ws_test_client::binary_bytes() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->binary_byte_total;
}

void ws_test_client::pause_reading() {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (impl_->paused) {
            return;
        }
        impl_->paused = true;
    }
    impl_->post_hold();
    std::unique_lock<std::mutex> lock(impl_->mutex);
    impl_->changed.wait(lock, [this] { return impl_->pause_reached; });
}

void ws_test_client::resume_reading() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->paused = false;
    impl_->changed.notify_all();
}

uint16_t free_loopback_port() {
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(
        io, asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    return acceptor.local_endpoint().port();
}

namespace {

// Writes the upgrade request and reads the answer's head, all asynchronously on the stream's
// I/O context.
template <typename stream_type>
void request_head(stream_type& stream, const std::string& request, asio::streambuf& received,
                  http_answer& answer) {
    asio::async_write(stream, asio::buffer(request), [&](std::error_code ec, size_t) {
        if (ec) {
            return;
        }
        asio::async_read_until(stream, received, "\r\n\r\n", [&](std::error_code read_ec,
                                                                   size_t length) {
            if (read_ec) {
                return;
            }
            answer.head.assign(asio::buffers_begin(received.data()),
                               asio::buffers_begin(received.data()) + length);
            std::istringstream lines(answer.head);
            std::string version;
            int code = -1;
            lines >> version >> code;
            answer.status = lines ? code : -1;
        });
    });
}

}  // namespace

std::string upgrade_request(const std::string& host_header) {
    return "GET / HTTP/1.1\r\nHost: " + host_header +
           "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
}

http_answer http_upgrade(uint16_t port, const std::string& host_header, bool tls,
                         tls_session* session, std::chrono::milliseconds timeout,
                         const std::string& trusted_pem) {
    const std::string request = upgrade_request(host_header);
    asio::io_context io;
    asio::ssl::context context(asio::ssl::context::tls_client);
    context.set_verify_mode(asio::ssl::verify_none);
    if (!trusted_pem.empty()) {
        asio::error_code ignored;
        context.add_certificate_authority(asio::buffer(trusted_pem), ignored);
        context.set_verify_mode(asio::ssl::verify_peer);
        context.set_verify_callback(
            asio::ssl::host_name_verification(host_header.substr(0, host_header.rfind(':'))));
        SSL_CTX_set_purpose(context.native_handle(), X509_PURPOSE_SSL_SERVER);
    }
    asio::ssl::stream<asio::ip::tcp::socket> stream(io, context);
    if (session && *session) {
        SSL_set_session(stream.native_handle(), session->get());
    }
    asio::streambuf received;
    http_answer answer;
    const asio::ip::tcp::endpoint server(asio::ip::address_v4::loopback(), port);
    stream.next_layer().async_connect(server, [&](std::error_code ec) {
        if (ec) {
            return;
        }
        if (!tls) {
            request_head(stream.next_layer(), request, received, answer);
            return;
        }
        stream.async_handshake(asio::ssl::stream_base::client, [&](std::error_code tls_ec) {
            if (!tls_ec) {
                request_head(stream, request, received, answer);
            }
        });
    });
    io.run_for(timeout);
    if (tls) {
        answer.resumed = SSL_session_reused(stream.native_handle()) == 1;
    }
    // A TLS 1.3 server sends its session tickets after the handshake: they have been read with
    // the answer.
    if (session) {
        if (SSL_SESSION* kept = SSL_get1_session(stream.native_handle())) {
            *session = tls_session(kept, SSL_SESSION_free);
        }
        // OpenSSL withdraws the session of a connection that ends without a closing exchange;
        // this one counts as closed cleanly.
        SSL_set_shutdown(stream.native_handle(), SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
    }
    return answer;
}

int http_upgrade_status(uint16_t port, const std::string& host_header, bool tls,
                        std::chrono::milliseconds timeout) {
    return http_upgrade(port, host_header, tls, nullptr, timeout).status;
}

}  // namespace test
}  // namespace kelvo
