// The plain server: our send path for its connections and the one instantiation of its server.
#include "net/websocket_server_factory.h"
#include "net/websocket_server_impl_definitions.h"

namespace websocketpp {
KELVO_DEFINE_FRAME_DROPPING_SEND(kelvo::rtc::web::plain_server_config)
}  // namespace websocketpp

namespace kelvo {
namespace rtc {
namespace web {

template class websocket_server_impl<plain_server_config>;

std::unique_ptr<websocket_server> make_plain_server(int32_t server_index,
                                                   std::shared_ptr<shared_limits> limits) {
    return std::make_unique<websocket_server_impl<plain_server_config>>(
        server_index, std::string(), std::move(limits));
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
