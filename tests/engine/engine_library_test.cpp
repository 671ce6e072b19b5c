// The engine library holder: loading from the program's folder, the plain-name fallback, and the
// cases without a library or without its entry point.
#include <gtest/gtest.h>

#include <string>

#include "agent/engine_library.h"
#include "platform/dynamic_library.h"
#include "platform/module_path.h"

namespace {

using kelvo::rtc::web::engine_library;
using kelvo::rtc::web::platform_module_directory;
using kelvo::rtc::web::platform_path_in_directory;
using kelvo::rtc::web::platform_shared_library_name;

std::string beside_program(const std::string& base) {
    return platform_path_in_directory(platform_module_directory(), platform_shared_library_name(base));
}

TEST(engine_library, program_holder_loads_the_engine_from_the_program_folder) {
    engine_library& holder = engine_library::instance();
    EXPECT_EQ(&holder, &engine_library::instance());
    ASSERT_TRUE(holder.loaded());
    ASSERT_NE(nullptr, holder.version());
    EXPECT_STREQ("1.0.0-standin", holder.version());

    kelvo::rtc::IRtcEngine* first = holder.create_engine();
    kelvo::rtc::IRtcEngine* second = holder.create_engine();
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    EXPECT_NE(first, second);
    first->release(false);
    second->release(false);
}

TEST(engine_library, module_directory_is_the_folder_of_the_program) {
    const std::string folder = platform_module_directory();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE('/', folder.back());
    EXPECT_NE('\\', folder.back());
    engine_library exact(beside_program("rizudada"));
    EXPECT_TRUE(exact.loaded());
    EXPECT_NE(nullptr, exact.version());
}

TEST(engine_library, missing_library_gives_no_engine_and_no_version) {
    engine_library missing(beside_program("kelvo_no_such_engine"));
    EXPECT_FALSE(missing.loaded());
    EXPECT_EQ(nullptr, missing.create_engine());
    EXPECT_EQ(nullptr, missing.version());

    engine_library empty_name{std::string()};
    EXPECT_FALSE(empty_name.loaded());
    EXPECT_EQ(nullptr, empty_name.create_engine());

    engine_library neither(beside_program("kelvo_no_such_engine"), platform_shared_library_name("kelvo_no_such_engine"));
    EXPECT_FALSE(neither.loaded());
    EXPECT_EQ(nullptr, neither.create_engine());
    EXPECT_EQ(nullptr, neither.version());
}

TEST(engine_library, library_without_the_entry_point_gives_no_engine_and_no_version) {
    engine_library holder(beside_program("kelvo_no_entry_engine"));
    EXPECT_TRUE(holder.loaded());
    EXPECT_EQ(nullptr, holder.create_engine());
    // The library has a version entry point, but one that cannot make engines is not asked.
    EXPECT_EQ(nullptr, holder.version());
}

TEST(engine_library, falls_back_to_the_plain_name) {
    // The program's holder has the engine loaded, so the system finds it by its plain name.
    ASSERT_TRUE(engine_library::instance().loaded());
    engine_library holder("/nonexistent-folder/" + platform_shared_library_name("rizudada"),
                          platform_shared_library_name("rizudada"));
    ASSERT_TRUE(holder.loaded());
    kelvo::rtc::IRtcEngine* engine = holder.create_engine();
    ASSERT_NE(nullptr, engine);
    engine->release(false);
    EXPECT_STREQ("1.0.0-standin", holder.version());
}

}  // namespace
