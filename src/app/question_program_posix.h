// Which program asks the user about a site on POSIX systems, with what arguments, and what its
// exit means.
//
// A program named by KELVO_AGENT_PROMPT gets the origin as its one argument and answers with its
// exit code: 0 allows, 1 blocks, anything else leaves the question unanswered. Without it, on a
// desktop (DISPLAY or WAYLAND_DISPLAY set), zenity or else kdialog asks. zenity's question has
// two buttons and one exit code for "No" and for closing the window, so there it offers "Allow"
// and "Not now", the default one (blocking for good stays with "kelvo_web_agent -block");
// kdialog offers "Allow", "Block" and "Not now".
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "access/consent_prompt.h"

namespace kelvo {
namespace rtc {
namespace web {

struct question_program {
    enum class kind { none, own, zenity, kdialog };
    kind type = kind::none;
    // The program to run (own: as the variable names it; zenity, kdialog: the full path).
    std::string path;
};

// Reads the environment through `variable` (a name → its value, null when unset).
question_program choose_question_program(
    const std::function<const char*(const char*)>& variable);
// The same for this process's environment.
question_program question_program_from_environment();

// The arguments that ask about `origin`.
std::vector<std::string> question_arguments(const question_program& program,
                                            const std::string& origin);

// The answer the program's exit code means; no exit code (not started, killed) is dismissed.
consent_answer answer_from_exit(const question_program& program, std::optional<int> exit_code);

// The line for standard error when nobody can be asked: it names the command that allows the
// origin.
std::string unasked_line(const std::string& origin);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
