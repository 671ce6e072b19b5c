// A folder of the test's own under the system's temporary folder, removed with its contents at the
// end: certificates, runtime folders, installed copies.
#pragma once

#include <string>

namespace kelvo {
namespace test {

class temporary_folder {
public:
    // Fails the test (and leaves path() empty) when no folder could be made.
    temporary_folder();
    ~temporary_folder();
    temporary_folder(const temporary_folder&) = delete;
    temporary_folder& operator=(const temporary_folder&) = delete;
    // UTF-8.
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace test
}  // namespace kelvo
