#include "support/in_process_agent.h"

#include "support/free_port.h"

namespace kelvo {
namespace test {

in_process_agent::in_process_agent(const in_process_agent_options& options)
    : log_(options.engine_log_prefix), net_(options.limits), agent_(net_, options.access) {
    if (!options.tls_certificate_folder.empty()) {
        ports_.push_back(start_tls_server(net_, options.tls_certificate_folder));
        if (ports_.back() == 0) {
            failure_ = "no free port for the TLS server";
            return;
        }
    }
    for (int plain = 0; plain < options.plain_servers; ++plain) {
        ports_.push_back(start_plain_server(net_));
        if (ports_.back() == 0) {
            failure_ = "no free port for server " + std::to_string(ports_.size() - 1);
            return;
        }
    }
}

in_process_agent::~in_process_agent() { net_.clear(); }

}  // namespace test
}  // namespace kelvo
