#include "platform/posix/runtime_folder.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kelvo {
namespace rtc {
namespace web {

namespace {

std::string absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

// Why the folder cannot hold the agent's lock and socket; empty when it can. `forbidden` are the
// mode bits nobody but the owner may have.
std::string refusal(const std::string& folder, const struct stat& status, mode_t forbidden) {
    if (!S_ISDIR(status.st_mode)) return folder + " is not a folder";
    if (status.st_uid != geteuid()) {
        return folder + " belongs to another user (uid " + std::to_string(status.st_uid) + ")";
    }
    if ((status.st_mode & forbidden) != 0) {
        char mode[8] = {};
        std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(status.st_mode & 0777));
        return folder + " is open to other users (mode " + mode + ")";
    }
    return std::string();
}

std::string checked(const std::string& folder, bool own_folder, std::string* problem) {
    struct stat status {};
    // The named folder is the user's word; a folder of our own in a shared place must be no
    // link, which another user could point elsewhere.
    const int looked = own_folder ? lstat(folder.c_str(), &status) : stat(folder.c_str(), &status);
    std::string why = looked != 0 ? folder + ": " + std::strerror(errno)
                                  : refusal(folder, status, own_folder ? 077 : 022);
    if (why.empty()) return folder;
    if (problem != nullptr) {
        *problem = why + "; the agent keeps its lock and control socket only in a folder of "
                         "your own (set XDG_RUNTIME_DIR to one" +
                   (own_folder ? ", or remove " + folder : std::string()) + ")";
    }
    return std::string();
}

}  // namespace

std::string platform_runtime_folder(std::string* problem) {
    for (const char* name : {"KELVO_AGENT_RUNTIME_DIR", "XDG_RUNTIME_DIR"}) {
        const std::string named = absoluteVariable(name);
        if (!named.empty()) return checked(named, false, problem);
    }
    std::string shared = absoluteVariable("TMPDIR");
    if (shared.empty()) shared = "/tmp";
    const std::string own = shared + "/kelvo-web-agent-" + std::to_string(geteuid());
    mkdir(own.c_str(), 0700);
    return checked(own, true, problem);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
