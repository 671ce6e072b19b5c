#include "app/agent_run.h"

#include <cstdio>
#include <memory>

#include "agent/rtc_engine_agent.h"
#include "net/agent_close.h"
#include "net/net_engine.h"

namespace kelvo {
namespace rtc {
namespace web {

int run_agent(const std::string& cert_dir, const server_ports& ports,
              const site_access_ui& access, const control_window_factory& make_window) {
    net_engine net;
    rtc_engine_agent agent(net, agent_access{&access.sites, &access.prompt, &access.indicator, {}});
    std::unique_ptr<IControlWindow> window;

    int exit_code = -1;
    const bool tls_started = net.add_tls_server(ports.tls, cert_dir) == 0;
    if (tls_started && net.add_plain_server(ports.plain) == 0) {
        window = make_window([&access, &agent](const std::string& forgotten) {
            access.sites.reload();
            if (!forgotten.empty()) access.sites.forget_for_this_run(forgotten);
            agent.on_sites_changed();
        });
        exit_code = window->run_loop();
        // Every page hears why, before the servers go: a page whose user quit the agent
        // ends its session, one whose agent restarts connects again.
        const agent_close& why = window->ended_for_restart() ? agent_restarting : agent_quitting;
        net.close_all(why.code, why.reason, close_patience);
    } else {
        std::fprintf(stderr, "Kelvo Web Agent: cannot start: port %u on 127.0.0.1 could not be "
                             "opened (another program may hold it)\n",
                     static_cast<unsigned>(tls_started ? ports.plain : ports.tls));
    }
    // The servers' threads call the agent, so every server stops before the agent goes (and a
    // TLS server that started before the plain one failed is stopped here too).
    net.clear();
    if (window) window->destroy();
    access.prompt.close();
    return exit_code;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
