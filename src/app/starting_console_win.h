// Windows: where the answers of the program's switches go.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// The program has no console of its own: its standard output and error go to the console it was
// started from, if any, unless its standard error already goes somewhere (an installer's pipe, a
// file). True when they go somewhere now.
bool write_to_starting_console();

// Says `text` (UTF-8) to whoever started the program: on standard output, or standard error when
// `error`, where those reach someone (see above); otherwise, as after a start from the desktop,
// in a message box, which the program waits on until the user closes it.
void tell_starter(const std::string& text, bool error);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
