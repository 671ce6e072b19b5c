// Member definitions of websocket_server_impl, included only by the two files that instantiate it.
#pragma once

#include <type_traits>

#include <asio/post.hpp>

#include "net/host_validation.h"
#include "platform/peer_user.h"
#include "net/server_error_log.h"
#include "net/tls_context.h"
#include "net/websocket_server_impl.h"
#include "platform/listening_socket.h"
#include "platform/stream_socket.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace close_code {
constexpr int going_away = 1001;
constexpr int policy_violation = 1008;
constexpr int internal_error = 1011;
constexpr int invalid_request = 3000;
constexpr int rejected = 3001;
}  // namespace close_code

// What the servers answer to, in the headers of every HTTP answer.
constexpr const char server_name[] = "Kelvo Web Agent";

// A message from a page larger than this is refused before any of it reaches the agent: the
// library closes the connection with 1009 (message too big). Every command is far smaller.
constexpr size_t max_message_bytes = 1 << 20;

// Why a connection is closed with 1008 (policy violation): its page has left too many replies
// unread, so a page that sends commands and never reads the answers cannot grow the agent
// without bound; or its site is not allowed and it sat idle, holding one of the few places kept
// for such sites.
constexpr const char unsent_data_reason[] = "too much unsent data";
constexpr const char idle_reason[] = "idle, site not allowed";

// When the system refuses an accept for want of resources (out of descriptors), trying again at
// once would fail at once, at full speed; the next try waits this long instead.
constexpr long accept_retry_ms = 100;
// How long a client whose owner the system does not list yet has to send its first bytes.
constexpr long owner_wait_ms = 10000;

template <typename config>
websocket_server_impl<config>::websocket_server_impl(int32_t server_index, std::string cert_dir,
                                                     std::shared_ptr<shared_limits> limits)
    : limits_(limits ? std::move(limits) : std::make_shared<shared_limits>()),
      cert_dir_(std::move(cert_dir)),
      server_index_(server_index) {
    endpoint_.clear_access_channels(websocketpp::log::alevel::all);
    endpoint_.clear_error_channels(websocketpp::log::elevel::all);
    endpoint_.init_asio();
    endpoint_.set_user_agent(server_name);
    endpoint_.set_max_message_size(max_message_bytes);
    endpoint_.set_tcp_pre_bind_handler([](std::shared_ptr<asio::ip::tcp::acceptor> acceptor) {
        return platform_prepare_listening_socket(
            static_cast<std::uintptr_t>(acceptor->native_handle()));
    });
    endpoint_.set_open_handler([this](connection_handle handle) { on_open(handle); });
    endpoint_.set_close_handler([this](connection_handle handle) { on_close(handle); });
    endpoint_.set_validate_handler(
        [this](connection_handle handle) { return on_validate(handle); });
    endpoint_.set_message_handler([this](connection_handle handle, message_ptr message) {
        on_message(handle, std::move(message));
    });
    endpoint_.set_http_handler([this](connection_handle handle) { on_http(handle); });
    if constexpr (std::is_same_v<config, tls_server_config>) {
        endpoint_.set_tls_init_handler(
            [context = make_tls_context(tls_mode::compatible, cert_dir_)](connection_handle) {
                return context;
            });
    }
}

template <typename config>
websocket_server_impl<config>::~websocket_server_impl() {
    endpoint_.stop();
    if (io_thread_ && io_thread_->joinable()) {
        io_thread_->join();
    }
    checked_lock lock(table_mutex_);
    table_.clear();
}

template <typename config>
int32_t websocket_server_impl<config>::start(uint16_t port) {
    try {
        std::error_code ec;
        endpoint_.listen(asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), port), ec);
        if (ec) {
            return -1;
        }
        accept_next();
        io_thread_ = std::make_unique<std::thread>([this] { run_io(); });
        return 0;
    } catch (const std::exception&) {
        return -1;
    }
}

// The library's own accept loop tries again at once after any failure, which spins at full speed
// while the process is out of descriptors; ours waits then, and keeps to the limit per server.
// A connection made for a client that never came (or was turned away) waits for the next one.
template <typename config>
void websocket_server_impl<config>::accept_next() {
    const bool made = run_reporting_exceptions(server_index_, "making a connection", [this] {
        if (!waiting_) {
            waiting_ = endpoint_.get_connection();
            if (waiting_) waiting_->count_against(limits_);
        }
    });
    if (!made || !waiting_) {
        accept_later();
        return;
    }
    // Fails only when the server no longer listens: it is stopping.
    std::error_code error;
    endpoint_.async_accept(std::static_pointer_cast<transport_connection>(waiting_),
                           [this](const std::error_code& accepted) { on_accept(accepted); },
                           error);
}

template <typename config>
void websocket_server_impl<config>::on_accept(const std::error_code& error) {
    if (error == websocketpp::error::make_error_code(websocketpp::error::operation_canceled)) {
        return;
    }
    if (error == asio::error::connection_aborted || error == asio::error::connection_reset) {
        accept_next();  // that client gave up; the next one may be waiting
        return;
    }
    if (error) {
        accept_later();
        return;
    }
    // Another OS user's program on this machine gets nothing, and takes no place: refused before
    // it may send a byte. Beyond the limit a client is disconnected at once, so the pages already
    // connected keep being served and the process's descriptors do not run out.
    const peer_owner owner = peer_owner_of(*waiting_);
    if (owner == peer_owner::other_user || open_connections_ >= limits_->limits.per_server) {
        std::error_code ignored;
        waiting_->get_raw_socket().close(ignored);
        accept_next();
        return;
    }
    connection_ptr accepted = std::move(waiting_);
    ++open_connections_;
    // The next accept first, so that nothing this connection does can stop the loop.
    accept_next();
    if (owner == peer_owner::own_user) {
        start(accepted);
    } else {
        start_once_owner_listed(accepted);
    }
}

template <typename config>
void websocket_server_impl<config>::start(const connection_ptr& accepted) {
    accepted->set_termination_handler([this](connection_ptr ended) {
        --open_connections_;
        if (site_places::place* place = ended->place()) place->give_back();
    });
    accepted->start();
}

// The client's first bytes wait unread in the socket while the owner is looked up again: by then
// its program has used its end, so the system lists it with its owner. A client that sends nothing
// within the wait, or is then still not listed as the user's own, is closed without an answer.
template <typename config>
void websocket_server_impl<config>::start_once_owner_listed(const connection_ptr& accepted) {
    auto give_up = endpoint_.set_timer(owner_wait_ms, [accepted](const std::error_code& error) {
        std::error_code ignored;
        if (!error) accepted->get_raw_socket().close(ignored);
    });
    accepted->get_raw_socket().async_wait(
        asio::socket_base::wait_read, [this, accepted, give_up](const std::error_code& error) {
            give_up->cancel();
            if (!error && peer_owner_of(*accepted) == peer_owner::own_user) {
                start(accepted);
                return;
            }
            std::error_code ignored;
            accepted->get_raw_socket().close(ignored);
            --open_connections_;
        });
}

template <typename config>
void websocket_server_impl<config>::accept_later() {
    endpoint_.set_timer(accept_retry_ms, [this](const std::error_code& error) {
        if (!error) {
            accept_next();
        }
    });
}

// An exception that leaves a handler unwinds out of the library's loop; the loop is entered again,
// so one failure never leaves the server running without serving.
template <typename config>
void websocket_server_impl<config>::run_io() {
    while (!run_reporting_exceptions(server_index_, "I/O loop", [this] { endpoint_.run(); })) {
    }
}

template <typename config>
void websocket_server_impl<config>::set_handler(net_engine_event_handler* handler) {
    handler_.store(handler);
}

template <typename config>
typename websocket_server_impl<config>::connection_ptr websocket_server_impl<config>::find_connection(
    const connection_handle& handle) {
    std::error_code ec;
    return endpoint_.get_con_from_hdl(handle, ec);
}

template <typename config>
typename websocket_server_impl<config>::context_ptr websocket_server_impl<config>::find_context(
    const connection_handle& handle) {
    checked_lock lock(table_mutex_);
    auto found = table_.find(handle);
    return found == table_.end() ? nullptr : found->second;
}

template <typename config>
void websocket_server_impl<config>::on_open(connection_handle handle) {
    auto context = std::make_shared<connection_context>();
    context->server_index = server_index_;
    context->handle = handle;
    if (connection_ptr con = find_connection(handle)) {
        context->origin = con->get_request_header("Origin");
    }
    bool inserted = false;
    {
        checked_lock lock(table_mutex_);
        inserted = table_.emplace(handle, context).second;
    }
    if (inserted) watch_idle(handle);
    net_engine_event_handler* handler = handler_.load();
    if (inserted && handler &&
        !run_reporting_exceptions(server_index_, "connection-opened handler", [&] {
            handler->on_connection_opened(context.get(), false);
        })) {
        server_close(handle, close_code::internal_error, "internal error");
    }
}

template <typename config>
void websocket_server_impl<config>::on_message(connection_handle handle, message_ptr message) {
    if (message->get_opcode() != websocketpp::frame::opcode::text) {
        server_close(handle, close_code::invalid_request, "invalid request");
        return;
    }
    context_ptr context = find_context(handle);
    net_engine_event_handler* handler = handler_.load();
    if (!context || !handler) {
        return;
    }
    std::string reply;
    int32_t result = 0;
    if (!run_reporting_exceptions(server_index_, "message handler", [&] {
            result = handler->on_message(context.get(), message->get_payload(), reply);
        })) {
        server_close(handle, close_code::internal_error, "internal error");
        return;
    }
    if (result != 0) {
        server_close(handle, close_code::rejected, "invalid request");
        return;
    }
    if (!reply.empty()) {
        // A failed reply closes this connection only (send_text never throws).
        send_text(handle, reply);
    }
}

template <typename config>
void websocket_server_impl<config>::on_close(connection_handle handle) {
    context_ptr context = find_context(handle);
    if (!context) {
        return;
    }
    const int32_t state = context->state;
    if (net_engine_event_handler* handler = handler_.load()) {
        run_reporting_exceptions(server_index_, "connection-closed handler",
                                 [&] { handler->on_connection_closed(context.get()); });
    }
    checked_lock lock(table_mutex_);
    table_.erase(handle);
    if (state != connection_control) {
        return;
    }
    // The page is gone: the other connections of its site on this server (its streams) go with
    // its control connection. Other sites' connections are none of its business.
    for (auto entry = table_.begin(); entry != table_.end();) {
        if (entry->second->origin != context->origin) {
            ++entry;
            continue;
        }
        if (connection_ptr con = find_connection(entry->first)) {
            std::error_code ignored;
            con->close(close_code::invalid_request, "going away", ignored);
        }
        entry = table_.erase(entry);
    }
}

// A plain HTTP request, not a WebSocket handshake: 426, as the library answers by itself, but
// readable by any page, with the server's name. A page whose WebSocket failed can so tell the
// agent (which refused it) from another program on the port. It tells no more than the port
// answering and "getAgentInfo" already do.
template <typename config>
void websocket_server_impl<config>::on_http(connection_handle handle) {
    if (connection_ptr con = find_connection(handle)) {
        con->set_status(websocketpp::http::status_code::upgrade_required);
        con->append_header("Access-Control-Allow-Origin", "*");
        con->append_header("Access-Control-Expose-Headers", "Server");
    }
}

template <typename config>
peer_owner websocket_server_impl<config>::peer_owner_of(transport_connection& con) {
    std::error_code local_error;
    std::error_code remote_error;
    const auto local = con.get_raw_socket().local_endpoint(local_error);
    const auto remote = con.get_raw_socket().remote_endpoint(remote_error);
    if (local_error || remote_error || !local.address().is_v4() || !remote.address().is_v4()) {
        return peer_owner::other_user;
    }
    const tcp_end server{local.address().to_v4().to_uint(), local.port()};
    const tcp_end client{remote.address().to_v4().to_uint(), remote.port()};
    // Only 127.0.0.1 itself: the owner of a client at another loopback address could be told
    // apart only by its port, which anybody may bind there.
    return client.address == loopback_address ? platform_peer_owner(server, client)
                                              : peer_owner::other_user;
}

template <typename config>
site_standing websocket_server_impl<config>::standing_of(const std::string& origin) {
    net_engine_event_handler* handler = handler_.load();
    return handler ? handler->standing_of(origin) : site_standing::allowed;
}

template <typename config>
bool websocket_server_impl<config>::on_validate(connection_handle handle) {
    connection_ptr con = find_connection(handle);
    if (!con) {
        return false;
    }
    if (!is_accepted_host(con->get_host())) {
        con->set_status(websocketpp::http::status_code::unauthorized);
        return false;
    }
    const std::string origin = con->get_request_header("Origin");
    if (standing_of(origin) == site_standing::allowed) {
        return true;
    }
    // A site the user has not allowed gets one of the few places kept for such sites, or none.
    auto place = limits_->places.take(origin, [this](const std::string& site) {
        return standing_of(site) != site_standing::allowed;
    });
    if (!place) {
        con->set_status(websocketpp::http::status_code::too_many_requests);
        return false;
    }
    con->hold_place(std::move(place));
    return true;
}

// A connection of a site that is not allowed may ask about the agent, and may wait for the user's
// answer, but may not sit on its place doing nothing else.
template <typename config>
void websocket_server_impl<config>::watch_idle(const connection_handle& handle) {
    const connection_ptr con = find_connection(handle);
    if (!con || !con->place()) {
        return;
    }
    const auto wait = limits_->limits.idle_not_allowed.count();
    endpoint_.set_timer(wait, [this, handle](const std::error_code& error) {
        if (!error) {
            check_idle(handle);
        }
    });
}

template <typename config>
void websocket_server_impl<config>::check_idle(const connection_handle& handle) {
    const connection_ptr con = find_connection(handle);
    const context_ptr context = find_context(handle);
    if (!con || !context || context->state != connection_new) {
        return;
    }
    const std::string& site = con->place()->site();
    switch (standing_of(site)) {
    case site_standing::allowed:
        limits_->places.forget_site(site);
        return;
    case site_standing::asking:
        watch_idle(handle);
        return;
    case site_standing::not_allowed:
        server_close(handle, close_code::policy_violation, idle_reason);
        return;
    }
}

// Takes the entry out at once, so exactly one caller reports the connection closed (a control
// connection ends the session, a stream connection gives up its video channel). On another thread
// (an engine's) the report goes to this server's I/O thread: the agent's closed-handling may
// release the engine or a view, which must not happen inside the engine's own callback.
// A connection that is already closing by itself keeps its entry: its close handler is still to
// come and reports it (and, for the control connection, closes the others of this server).
template <typename config>
void websocket_server_impl<config>::server_close(const connection_handle& handle, int code,
                                                 const std::string& reason) {
    if (connection_ptr con = find_connection(handle)) {
        std::error_code ec;
        con->close(static_cast<websocketpp::close::status::value>(code), reason, ec);
        if (ec == websocketpp::error::make_error_code(websocketpp::error::invalid_state)) {
            return;
        }
    }
    context_ptr context;
    {
        checked_lock lock(table_mutex_);
        auto found = table_.find(handle);
        if (found == table_.end()) {
            return;
        }
        context = std::move(found->second);
        table_.erase(found);
    }
    net_engine_event_handler* handler = handler_.load();
    if (!handler || context->state == connection_new) {
        return;
    }
    auto& io = endpoint_.get_io_service();
    if (io.get_executor().running_in_this_thread()) {
        handler->on_connection_closed(context.get());
        return;
    }
    asio::post(io, [this, context] {
        if (net_engine_event_handler* current = handler_.load()) {
            current->on_connection_closed(context.get());
        }
    });
}

template <typename config>
void websocket_server_impl<config>::post_to_connection(
    const connection_handle& handle, std::function<void(connection_context&)> work) {
    asio::post(endpoint_.get_io_service(), [this, handle, work = std::move(work)] {
        if (context_ptr context = find_context(handle)) {
            run_reporting_exceptions(server_index_, "posted work", [&] { work(*context); });
        }
    });
}

template <typename config>
void websocket_server_impl<config>::close_all(int code, const std::string& reason) {
    asio::post(endpoint_.get_io_service(), [this, code, reason] {
        // A page that reconnects meanwhile finds the port closed, not a server about to go.
        std::error_code ignored;
        endpoint_.stop_listening(ignored);
        std::vector<connection_handle> open;
        {
            checked_lock lock(table_mutex_);
            for (const auto& entry : table_) open.push_back(entry.first);
        }
        // The library's close calls are made outside the table's lock, as elsewhere: a close that
        // fails at once calls the close handler, which takes it.
        for (const connection_handle& handle : open) {
            if (connection_ptr con = find_connection(handle)) {
                con->close(static_cast<websocketpp::close::status::value>(code), reason, ignored);
            }
        }
    });
}

template <typename config>
void websocket_server_impl<config>::wait_all_closed(
    std::chrono::steady_clock::time_point deadline) {
    // Polled: this runs once, when the agent stops, and the close handlers that empty the table
    // have no one else to tell.
    constexpr std::chrono::milliseconds poll_interval{5};
    while (std::chrono::steady_clock::now() < deadline) {
        {
            checked_lock lock(table_mutex_);
            if (table_.empty()) return;
        }
        std::this_thread::sleep_for(poll_interval);
    }
}

template <typename config>
int32_t websocket_server_impl<config>::send_text(const connection_handle& handle,
                                                 const std::string& text) {
    connection_ptr con = find_connection(handle);
    if (!con || con->send(text, websocketpp::frame::opcode::text)) {
        server_close(handle, close_code::going_away, std::string());
        return -1;
    }
    if (!within_reply_limits(con)) {
        server_close(handle, close_code::policy_violation, unsent_data_reason);
        return -1;
    }
    return 0;
}

template <typename config>
bool websocket_server_impl<config>::within_reply_limits(const connection_ptr& con) {
    const connection_limits& limits = limits_->limits;
    const size_t unsent = con->unsent_reply_bytes();
    if (unsent > limits.unsent_per_connection) {
        return false;
    }
    if (unsent > limits.unsent_per_not_allowed_connection && con->place() &&
        con->place()->counts()) {
        // The user may have allowed the site since the connection was made.
        const std::string& site = con->place()->site();
        if (standing_of(site) != site_standing::allowed) {
            return false;
        }
        limits_->places.forget_site(site);
    }
    return !limits_->unsent.spent() || unsent <= limits_->unsent.share();
}

template <typename config>
int32_t websocket_server_impl<config>::send_batch(const connection_handle& handle,
                                                  const connection_ptr& con,
                                                  outgoing_batch& batch) {
    if (queue_batch(con, batch)) {
        server_close(handle, close_code::going_away, std::string());
        return -1;
    }
    return 0;
}

template <typename config>
int32_t websocket_server_impl<config>::send_binary(const connection_handle& handle,
                                                   const void* data, size_t length,
                                                   int32_t* group) {
    outgoing_batch batch;
    batch.group = group;
    connection_ptr con = find_connection(handle);
    if (!con) {
        server_close(handle, close_code::going_away, std::string());
        return -1;
    }
    batch.messages.push_back(make_binary_message(*con, data, length));
    return send_batch(handle, con, batch);
}

template <typename config>
int32_t websocket_server_impl<config>::send_binary_group(const connection_handle& handle,
                                                         const binary_group& group,
                                                         int32_t* dropped) {
    if (dropped) {
        *dropped = 0;
    }
    connection_ptr con = find_connection(handle);
    if (!con) {
        server_close(handle, close_code::going_away, std::string());
        return -1;
    }
    if (group.count == 0) {
        return 0;
    }
    int32_t drop_group = static_cast<int32_t>(group.count);
    outgoing_batch batch;
    batch.group = &drop_group;
    batch.messages.reserve(group.count);
    std::vector<uint8_t*> payloads(group.count);
    size_t total = 0;
    for (size_t i = 0; i < group.count; ++i) {
        batch.messages.push_back(con->frame_payloads().binary_message(group.sizes[i], payloads[i]));
        total += group.sizes[i];
    }
    group.write(payloads.data());
    if (con->frame_dropping() && con->refit_send_buffer(total)) {
        fit_send_buffer(handle, send_buffer_for_frame(total));
    }
    const int32_t result = send_batch(handle, con, batch);
    if (dropped) {
        *dropped = batch.removed;
    }
    return result;
}

template <typename config>
void websocket_server_impl<config>::fit_send_buffer(const connection_handle& handle, int bytes) {
    // On the I/O thread, which alone opens and closes the socket.
    asio::post(endpoint_.get_io_service(), [this, handle, bytes] {
        if (connection_ptr con = find_connection(handle)) {
            auto& socket = con->get_raw_socket();
            platform_fit_send_buffer(static_cast<std::uintptr_t>(socket.native_handle()), bytes);
            // A frame's last segment would otherwise wait for the page's acknowledgement of the
            // one before, which the page may delay: up to tens of milliseconds on every frame.
            asio::error_code ignored;
            socket.set_option(asio::ip::tcp::no_delay(true), ignored);
        }
    });
}

template <typename config>
void websocket_server_impl<config>::set_frame_dropping(const connection_handle& handle,
                                                       bool enabled) {
    if (connection_ptr con = find_connection(handle)) {
        con->set_frame_dropping(enabled);
    }
}

template <typename config>
size_t websocket_server_impl<config>::queued_bytes(const connection_handle& handle) {
    connection_ptr con = find_connection(handle);
    return con ? con->get_buffered_amount() : 0;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
