#include "app/question_program_posix.h"

#include <cstdlib>

#include "app/consent_question.h"
#include "platform/posix/program_runner.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

const char dialog_title[] = "Kelvo Web Agent";

bool isSet(const char* value) {
    return value != nullptr && *value != '\0';
}

}  // namespace

question_program choose_question_program(
    const std::function<const char*(const char*)>& variable) {
    question_program chosen;
    if (isSet(variable("KELVO_AGENT_PROMPT"))) {
        chosen.type = question_program::kind::own;
        chosen.path = variable("KELVO_AGENT_PROMPT");
        return chosen;
    }
    if (!isSet(variable("DISPLAY")) && !isSet(variable("WAYLAND_DISPLAY"))) return chosen;
    const char* path = variable("PATH");
    const std::string search_path = path != nullptr ? path : "";
    for (const auto kind : {question_program::kind::zenity, question_program::kind::kdialog}) {
        chosen.path = platform_find_program(
            kind == question_program::kind::zenity ? "zenity" : "kdialog", search_path);
        if (!chosen.path.empty()) {
            chosen.type = kind;
            return chosen;
        }
    }
    return chosen;
}

question_program question_program_from_environment() {
    return choose_question_program([](const char* name) { return std::getenv(name); });
}

std::vector<std::string> question_arguments(const question_program& program,
                                            const std::string& origin) {
    switch (program.type) {
        case question_program::kind::zenity:
            return {"--question", std::string("--title=") + dialog_title,
                    "--text=" + consent_question_text(origin), "--ok-label=Allow",
                    "--cancel-label=Not now", "--default-cancel", "--no-markup"};
        case question_program::kind::kdialog:
            return {"--title", dialog_title, "--yes-label", "Allow", "--no-label", "Block",
                    "--cancel-label", "Not now", "--yesnocancel", consent_question_text(origin)};
        default:
            return {origin};
    }
}

consent_answer answer_from_exit(const question_program& program, std::optional<int> exit_code) {
    if (exit_code == 0) return consent_answer::allow_remembered;
    // zenity's 1 is "Not now" or a closed window as well.
    if (exit_code == 1 && program.type != question_program::kind::zenity) {
        return consent_answer::block_remembered;
    }
    return consent_answer::dismissed;
}

std::string unasked_line(const std::string& origin) {
    return "Kelvo Web Agent: nobody could be asked whether " + origin +
           " may use the agent (KELVO_AGENT_PROMPT is not set, and there is no display or no "
           "zenity or kdialog); to allow it: kelvo_web_agent -allow " + origin;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
