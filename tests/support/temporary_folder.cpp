#include "support/temporary_folder.h"

#include <filesystem>
#include <random>

#include <gtest/gtest.h>

namespace kelvo {
namespace test {

namespace fs = std::filesystem;

temporary_folder::temporary_folder() {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const fs::path candidate =
            fs::temp_directory_path() / ("kelvo-test-" + std::to_string(random() % 100000000u));
        std::error_code error;
        if (fs::create_directory(candidate, error)) path_ = candidate.u8string();
    }
    EXPECT_FALSE(path_.empty()) << "no temporary folder could be made";
}

temporary_folder::~temporary_folder() {
    std::error_code error;
    if (!path_.empty()) fs::remove_all(fs::u8path(path_), error);
}

}  // namespace test
}  // namespace kelvo
