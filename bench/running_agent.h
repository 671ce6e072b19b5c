// An agent program run as a process for a benchmark, in a folder of its own with the stand-in
// engine beside it and a fresh certificate pair, on free ports. Any build of the agent can be
// named, so that an earlier revision is measured beside this one in the same run.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/agent_process.h"
#include "support/process_memory.h"

namespace kelvo {
namespace test {

class running_agent {
public:
    // `sites`: the user's sites file, when the agent is to find one; `prompt_program`: the program
    // that asks the user about sites (none by default).
    explicit running_agent(const std::string& program, unsigned descriptor_limit = 0,
                           const std::string& sites = std::string(),
                           const std::string& prompt_program = std::string())
        : installed_(install_agent_copy(folder_.path() + "/installed", std::string(), program)) {
        setup_ = setup_on_free_ports(folder_.path());
        setup_.program = installed_;
        setup_.descriptor_limit = descriptor_limit;
        if (!sites.empty()) {
            const std::filesystem::path file = sites_file_path(setup_);
            std::filesystem::create_directories(file.parent_path());
            std::ofstream(file) << sites;
        }
        setup_.prompt_program = prompt_program;
        process_ = std::make_unique<agent_process>(setup_);
        if (installed_.empty() || !wait_serving(setup_, *process_)) {
            std::fprintf(stderr, "bench: %s does not serve\n", program.c_str());
            std::exit(1);
        }
    }

    const agent_setup& setup() const { return setup_; }
    // A folder of this agent's own, removed with it.
    const std::string& folder() const { return folder_.path(); }
    agent_process& process() { return *process_; }
    size_t resident_bytes() const { return kelvo::test::resident_bytes(process_->id()); }

private:
    temporary_folder folder_;
    std::string installed_;
    agent_setup setup_;
    std::unique_ptr<agent_process> process_;
};

}  // namespace test
}  // namespace kelvo
