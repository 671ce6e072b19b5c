// The program's entry on POSIX systems.
//
//   kelvo_web_agent -make-certificate
//                            makes the TLS server's certificate pair beside the program unless
//                            the one there is good (app/certificate_switch.h); exit code 0 done,
//                            1 it could not
//   kelvo_web_agent          starts the agent (exit code 255, i.e. -1, when one already runs or
//                            a port cannot be taken; 0 after "close", SIGINT or SIGTERM)
//   kelvo_web_agent -kill    asks every running instance to close, then exits with 0
#include <signal.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "app/agent_run.h"
#include "app/certificate_switch.h"
#include "app/control_loop_posix.h"
#include "app/server_ports.h"
#include "platform/module_path.h"
#include "platform/single_instance.h"

using namespace kelvo::rtc::web;

namespace {

// Repeats while an instance still answers: it ends its loop on the first "close", and a
// newer instance may have taken its place by the next look.
void closeRunningInstances() {
    while (post_control_message("close")) std::this_thread::sleep_for(std::chrono::seconds(2));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], make_certificate_switch) == 0) {
        return make_certificate_pair(platform_module_directory());
    }
    // Only the whole command line "-kill" is the switch (no other spelling, no further words).
    if (argc == 2 && std::strcmp(argv[1], "-kill") == 0) {
        closeRunningInstances();
        return 0;
    }
    if (!platform_take_single_instance_lock()) return -1;
    // A page that goes away mid-send must not end the process.
    signal(SIGPIPE, SIG_IGN);
    return run_agent(platform_module_directory(), configured_server_ports(),
                     [] { return std::make_unique<control_loop>(); });
}
