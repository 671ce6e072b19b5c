#include "app/certificate_switch.h"

#include <cstdio>
#include <ctime>

#include "net/certificate_renewal.h"
#include "net/host_validation.h"
#include "net/self_signed_certificate.h"
#include "net/tls_certificate.h"
#include "platform/file_contents.h"
#include "platform/module_path.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

std::string day_of(std::time_t time) {
    char text[16] = {};
    const std::tm* parts = std::gmtime(&time);
    if (parts == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d", parts) == 0) return "?";
    return text;
}

std::string why_replaced(const certificate_pair_inspection& found) {
    switch (found.state) {
        case certificate_pair_state::missing:
            return "there was none";
        case certificate_pair_state::damaged:
            return "the one there could not be used";
        case certificate_pair_state::foreign:
            return "the one there was not one this program makes";
        case certificate_pair_state::expiring:
            return "the one there ends " + day_of(found.expires);
        case certificate_pair_state::good:
            break;
    }
    return std::string();
}

}  // namespace

int make_certificate_pair(const std::string& program_dir) {
    const std::string chain_path =
        platform_path_in_directory(program_dir, certificate_chain_file_name);
    const std::string key_path = platform_path_in_directory(program_dir, private_key_file_name);
    const std::time_t now = std::time(nullptr);
    const certificate_pair_inspection found =
        inspect_certificate_pair(platform_read_file(chain_path), platform_read_file(key_path), now);
    // A good pair whose key others may read is kept once the key is this user's alone again;
    // when that cannot be done (another user's file, a link) the pair is made anew.
    const bool good = found.state == certificate_pair_state::good;
    if (good && platform_make_file_private(key_path)) {
        std::printf("kelvo_web_agent: the certificate in %s is good until %s; kept as it is\n",
                    program_dir.c_str(), day_of(found.expires).c_str());
        return switch_done;
    }
    const std::optional<certificate_pair_text> pair = make_self_signed_certificate(now);
    if (!pair) {
        std::fprintf(stderr, "kelvo_web_agent: no certificate could be made (OpenSSL failed)\n");
        return switch_failed;
    }
    // The key first: when the certificate cannot follow, the two files no longer match, and
    // the next run sees a damaged pair and makes one again.
    const bool key_written = platform_replace_private_file(key_path, pair->key_pem);
    if (!key_written || !platform_replace_file_contents(chain_path, pair->chain_pem)) {
        std::fprintf(stderr, "kelvo_web_agent: cannot write %s\n",
                     (key_written ? chain_path : key_path).c_str());
        return switch_failed;
    }
    std::printf(
        "kelvo_web_agent: made a new certificate for 127.0.0.1 and %s in %s, good until %s "
        "(%s)\n",
        loopback_host_name, program_dir.c_str(),
        day_of(now + static_cast<std::time_t>(self_signed_lifetime_days) * 24 * 60 * 60).c_str(),
        good ? "the key there could not be made yours alone" : why_replaced(found).c_str());
    return switch_done;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
