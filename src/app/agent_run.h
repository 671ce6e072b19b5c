// The part of the program's run that is the same on every platform: the server set and the
// agent, the two servers, the control window's loop and the teardown in its fixed order.
#pragma once

#include <string>

#include "access/site_decisions.h"
#include "access/usage_indicator.h"
#include "app/closable_consent_prompt.h"
#include "app/control_window.h"
#include "app/server_ports.h"

namespace kelvo {
namespace rtc {
namespace web {

// The user's side of site access, made by the platform's entry before run_agent and living
// until after it:
//   sites      the user's remembered decisions (sites.json);
//   prompt     asks the user whether an origin may use the agent (Linux: the question program
//              of question_program_posix.h; Windows: a dialog of the control window);
//   indicator  shows on the tray icon what each site uses.
// The agent is made after them and keeps references to all three. The control window made by the
// entry's factory joins the prompt and the indicator (it shows the dialogs and the usage) and
// leaves them again in IControlWindow::destroy(); on Windows its "Sites..." window lists and
// forgets the decisions.
struct site_access_ui {
    site_decisions& sites;
    IClosableConsentPrompt& prompt;
    IUsageIndicator& indicator;
};

// Builds the server set and then the agent, starts the TLS server (certificates from
// `cert_dir`) and then the plain server, and runs the control window made by `make_window`
// (which has the decisions read again when told, and a session whose site is no longer allowed
// ended) until its loop ends. Returns the loop's exit
// code, or -1 when a server could not start (the plain server is not tried after the TLS server
// failed). Servers are always gone before the agent, and the agent before the set. Once the
// servers and the window are gone, and before the agent goes, the prompt is closed: every
// question still open is answered dismissed while the agent that waits for it still exists.
int run_agent(const std::string& cert_dir, const server_ports& ports,
              const site_access_ui& access, const control_window_factory& make_window);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
