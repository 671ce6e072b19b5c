// Windows only: the agent, built by mingw-w64 (Itanium C++ ABI), drives an engine built by clang
// for Microsoft's C++ ABI from the same engine header (engine/msvc_abi), as the real engine is
// built. The engine plays a scripted call through real virtual calls of that ABI; a page checks
// that every callback's arguments, every frame's bytes and the renderer's size request crossed
// intact, and the engine's record shows every call of the agent arriving with its arguments.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <msvc_abi/scripted_call.h>

#include "app/agent_process.h"
#include "support/agent_fixture.h"
#include "support/engine_log_file.h"
#include "video/stream_frame_reader.h"

namespace kelvo {
namespace test {
namespace {

namespace fs = std::filesystem;
namespace script = kelvo::rtc::msvc_abi;
using kelvo::rtc::web::test::next_frame;
using kelvo::rtc::web::test::stream_frame;

// The view the page asks for: odd sizes, so the engine's chroma planes are rounded up and the
// agent's packed ones down.
constexpr int view_width = 321;
constexpr int view_height = 181;

std::string uid_text(uint32_t uid) { return std::to_string(uid); }

class msvc_abi_engine_win_test : public ::testing::Test {
protected:
    msvc_abi_engine_win_test() {
        setup = setup_on_free_ports(folder.path());
        setup.program = install_agent_copy(folder.path() + "/installed");
    }

    // Puts the engine built for Microsoft's ABI in place of the stand-in beside the program.
    bool use_msvc_abi_engine() {
        const fs::path built = fs::u8path(agent_program_path()).parent_path() / "msvc_abi" /
                               "rizudada.dll";
        std::error_code error;
        fs::copy_file(built, fs::u8path(setup.program).parent_path() / "rizudada.dll",
                      fs::copy_options::overwrite_existing, error);
        EXPECT_FALSE(error) << built.u8string() << ": " << error.message();
        return !error;
    }

    agent_test_turn turn;
    temporary_folder folder;
    agent_setup setup;
};

TEST_F(msvc_abi_engine_win_test, a_scripted_call_crosses_the_agent_with_every_argument_intact) {
    ASSERT_FALSE(setup.program.empty());
    ASSERT_TRUE(use_msvc_abi_engine());
    const engine_log_file log(engine_log_file::written_by_another_process{
        setup.runtime_folder + "/rizudada.log"});
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    const std::string peer = uid_text(script::peer_uid);
    const std::string granted = uid_text(script::granted_uid);
    {
        agent_client page;
        ASSERT_TRUE(page.connect(setup.plain()));
        EXPECT_EQ(page.request(R"({"command":"getVersion"})"),
                  R"({"command":"getVersion","version":"1.0.0-msvc-abi","code":true})");
        EXPECT_EQ(page.request(R"({"command":"initialize","appID":"msvc-abi-app"})"),
                  R"({"command":"initialize","code":true})");
        ASSERT_TRUE(page.send(
            R"({"command":"joinChannel","channelKey":"key-1","channelName":"room-7","uid":0})"));
        // The join's callbacks, each with the arguments the engine passed.
        const std::string last = R"({"event":"onRequestChannelKey"})";
        EXPECT_EQ(page.texts_before(last),
                  (std::vector<std::string>{
                      R"({"command":"joinChannel","uid":)" + granted + R"(,"code":true})",
                      R"({"command":"onAddVideoStream","uid":)" + peer + "}",
                      R"({"event":"onUserMuteAudio","uid":)" + peer + R"(,"muted":true})",
                      R"({"event":"onUserMuteVideo","uid":)" + peer + R"(,"muted":false})",
                      R"({"event":"onUserEnableVideo","uid":)" + peer + R"(,"enabled":true})",
                      R"({"event":"onRejoinChannelSuccess","channel":"room-7","uid":)" + granted +
                          R"(,"elapsed":31})",
                      R"({"event":"warning","code":8})",
                      R"({"event":"error","code":-1003})",
                      R"({"command":"startRecording","code":-7})",
                  }));

        // The peer's video, at the size the page asks for: every frame's bytes as the engine
        // drew them, the last one always among those that arrive.
        agent_client viewer;
        ASSERT_TRUE(viewer.connect(setup.plain()));
        EXPECT_EQ(viewer.request(R"({"command":"subscribe","uid":)" + peer + R"(,"viewWidth":)" +
                                 std::to_string(view_width) + R"(,"viewHeight":)" +
                                 std::to_string(view_height) + "}"),
                  R"({"command":"subscribe","code":true})");
        uint32_t last_counter = 0;
        while (last_counter < static_cast<uint32_t>(script::frame_count)) {
            const std::optional<stream_frame> frame = next_frame(viewer.connection(),
                                                                 process_timeout);
            ASSERT_TRUE(frame.has_value()) << "after frame " << last_counter;
            EXPECT_EQ(frame->width, static_cast<uint32_t>(view_width));
            EXPECT_EQ(frame->height, static_cast<uint32_t>(view_height));
            EXPECT_EQ(frame->rotation, static_cast<uint32_t>(script::frame_rotation));
            EXPECT_EQ(frame->flag, script::frame_mirrored);
            EXPECT_EQ(frame->pattern_mismatch(), "") << "frame " << frame->counter();
            ASSERT_GT(frame->counter(), last_counter);
            last_counter = frame->counter();
        }
        EXPECT_TRUE(page.wait_for(R"({"command":"onPeerLeave","uid":)" + peer +
                                  R"(,"reason":2})", process_timeout));
        EXPECT_EQ(page.request(R"({"command":"leaveChannel"})"),
                  R"({"command":"leaveChannel","code":true})");
    }
    // The control connection closed: the agent releases the engine.
    ASSERT_TRUE(log.wait_for("call release false", process_timeout));

    // Every call reached the engine's operation of its slot, with its arguments.
    EXPECT_TRUE(log.has_in_order({
        "call initialize msvc-abi-app",
        "L1 [wa] Rtc Engine initialized",
        "call queryInterface 4",
        "call registerVideoRenderFactory",
        "call setupLocalVideo 0 1 0 none",
        "call queryInterface 3",
        "call enableVideo",
        "call release parameter",
        "call release mediaEngine",
        "L1 [wa] join channel",
        "call joinChannel key-1 room-7 ZuzIrave 0",
        "call setupRemoteVideo " + peer + " 1 0 view",
        // Asked while the factory makes the renderer, from the page's view size.
        "call onViewSizeChanged " + std::to_string(view_width) + " " + std::to_string(view_height),
        "render created " + peer,
        "render initialize 0",
        "call leaveChannel",
        "call onViewDestroyed",
        "render released " + peer,
        "L1 [wa] Rtc Engine destroyed",
        "call release false",
    })) << ::testing::PrintToString(log.lines());
    // The agent took every frame it was given.
    for (int counter = 1; counter <= script::frame_count; ++counter) {
        EXPECT_TRUE(log.has("render frame " + std::to_string(counter) + " 0"))
            << ::testing::PrintToString(log.lines());
    }
    EXPECT_TRUE(instance.running());
}

}  // namespace
}  // namespace test
}  // namespace kelvo
