#include "net/net_engine.h"

#include <condition_variable>

#include "base/thread_annotations.h"

#include "net/websocket_server_factory.h"

namespace kelvo {
namespace rtc {
namespace web {

// Servers are used from their own I/O threads and from engine threads while the main thread
// appends the second server or clears the set. A sender takes the server under the mutex and
// counts itself in `users`; clear() empties the set first (later sends fail with -1) and then
// waits for the senders already inside before destroying anything. The mutex is never held
// during a send, so a send that leads to another send (through a handler call) cannot deadlock.
struct net_engine::impl {
    explicit impl(const connection_limits& chosen)
        : limits(std::make_shared<shared_limits>(chosen)) {}

    // Shared by the servers.
    const std::shared_ptr<shared_limits> limits;
    // The server set's lock: a leaf, never held while a server is called.
    checked_mutex mutex;
    std::condition_variable idle;
    std::vector<std::unique_ptr<websocket_server>> servers KELVO_GUARDED_BY(mutex);
    net_engine_event_handler* handler KELVO_GUARDED_BY(mutex) = nullptr;
    size_t users KELVO_GUARDED_BY(mutex) = 0;

    int32_t add(std::unique_ptr<websocket_server> server, uint16_t port) {
        const int32_t result = server->start(port);
        if (result != 0) {
            return result;
        }
        checked_lock lock(mutex);
        server->set_handler(handler);
        servers.push_back(std::move(server));
        return 0;
    }

    int32_t next_index() {
        checked_lock lock(mutex);
        return static_cast<int32_t>(servers.size());
    }

    // Runs `use` on the server at `index` while counted as a user; -1 when there is none.
    template <typename use_type>
    int32_t with_server(int32_t index, use_type use) {
        websocket_server* server = nullptr;
        {
            checked_lock lock(mutex);
            if (index < 0 || static_cast<size_t>(index) >= servers.size()) {
                return -1;
            }
            server = servers[static_cast<size_t>(index)].get();
            ++users;
        }
        const int32_t result = use(*server);
        checked_lock lock(mutex);
        if (--users == 0) {
            idle.notify_all();
        }
        return result;
    }
};

net_engine::net_engine(const connection_limits& limits)
    : impl_(std::make_unique<impl>(limits)) {}

net_engine::~net_engine() { clear(); }

void net_engine::set_handler(net_engine_event_handler* handler) {
    checked_lock lock(impl_->mutex);
    impl_->handler = handler;
    for (auto& server : impl_->servers) {
        server->set_handler(handler);
    }
}

int32_t net_engine::add_tls_server(uint16_t port, const std::string& cert_dir) {
    return impl_->add(make_tls_server(impl_->next_index(), cert_dir, impl_->limits), port);
}

int32_t net_engine::add_plain_server(uint16_t port) {
    return impl_->add(make_plain_server(impl_->next_index(), impl_->limits), port);
}

void net_engine::close_all(int code, const std::string& reason,
                           std::chrono::milliseconds patience) {
    // Every server starts closing before any is waited for: the pages of all servers answer
    // their close frames at the same time.
    const auto deadline = std::chrono::steady_clock::now() + patience;
    const int32_t count = impl_->next_index();
    for (int32_t index = 0; index < count; ++index) {
        impl_->with_server(index, [&](websocket_server& server) {
            server.close_all(code, reason);
            return 0;
        });
    }
    for (int32_t index = 0; index < count; ++index) {
        impl_->with_server(index, [&](websocket_server& server) {
            server.wait_all_closed(deadline);
            return 0;
        });
    }
}

void net_engine::clear() {
    std::vector<std::unique_ptr<websocket_server>> leaving;
    {
        checked_lock lock(impl_->mutex);
        leaving.swap(impl_->servers);
        lock.wait(impl_->idle, [this]() KELVO_REQUIRES(impl_->mutex) { return impl_->users == 0; });
    }
    for (auto& server : leaving) {
        server.reset();
    }
}

size_t net_engine::size() const {
    checked_lock lock(impl_->mutex);
    return impl_->servers.size();
}

int32_t net_engine::send_text(int32_t index, const connection_handle& handle,
                              const std::string& text) {
    return impl_->with_server(index, [&](websocket_server& server) {
        return server.send_text(handle, text);
    });
}

int32_t net_engine::send_binary(int32_t index, const connection_handle& handle, const void* data,
                                size_t length, int32_t* group) {
    return impl_->with_server(index, [&](websocket_server& server) {
        return server.send_binary(handle, data, length, group);
    });
}

int32_t net_engine::send_binary_group(int32_t index, const connection_handle& handle,
                                      const binary_group& group, int32_t* dropped) {
    return impl_->with_server(index, [&](websocket_server& server) {
        return server.send_binary_group(handle, group, dropped);
    });
}

void net_engine::set_frame_dropping(int32_t index, const connection_handle& handle,
                                    bool enabled) {
    impl_->with_server(index, [&](websocket_server& server) {
        server.set_frame_dropping(handle, enabled);
        return 0;
    });
}

void net_engine::post_to_connection(int32_t index, const connection_handle& handle,
                                    std::function<void(connection_context&)> work) {
    impl_->with_server(index, [&](websocket_server& server) {
        server.post_to_connection(handle, std::move(work));
        return 0;
    });
}

void net_engine::close(int32_t index, const connection_handle& handle, int code,
                       const std::string& reason) {
    impl_->with_server(index, [&](websocket_server& server) {
        server.close(handle, code, reason);
        return 0;
    });
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
