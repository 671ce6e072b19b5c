#include "platform/user_config_folder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace kelvo {
namespace rtc {
namespace web {

namespace {

const char folder_name[] = "kelvo-web-agent";

std::string absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

// $HOME, else the home of the user's account entry.
std::string homeFolder() {
    const std::string home = absoluteVariable("HOME");
    if (!home.empty()) return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr) {
        return std::string();
    }
    return found->pw_dir;
}

// Makes every missing folder of the path, readable by the user only; folders that exist keep
// their rights.
void makeFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0700);
        if (slash == std::string::npos) return;
    }
}

}  // namespace

std::string platform_user_config_folder() {
    std::string settings = absoluteVariable("XDG_CONFIG_HOME");
    if (settings.empty()) {
        const std::string home = homeFolder();
        if (home.empty()) return std::string();
        settings = home + "/.config";
    }
    const std::string folder = settings + "/" + folder_name;
    makeFolders(folder);
    return folder;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
