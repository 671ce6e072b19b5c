#include "support/certificate_pair.h"

#include <cstdlib>

namespace kelvo {
namespace test {

// The quoting and redirection work in both the POSIX shell and the Windows command processor.
bool write_certificate_pair(const std::string& folder, const std::string& key_name,
                            const std::string& pass_phrase) {
    const std::string key_protection = pass_phrase.empty() ? "-nodes" : "-passout pass:" + pass_phrase;
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 " + key_protection +
        " -days 1 -subj /CN=127.0.0.1 -keyout \"" + folder + "/" + key_name + "\" -out \"" +
        folder + "/kelvo_cert_chain.pem\" >\"" + folder + "/openssl.log\" 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace test
}  // namespace kelvo
