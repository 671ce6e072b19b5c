// Windows: where the answers of the program's switches go.
#pragma once

namespace kelvo {
namespace rtc {
namespace web {

// The program has no console of its own: its standard output and error go to the console it was
// started from, if any, unless its standard error already goes somewhere (an installer's pipe, a
// file).
void write_to_starting_console();

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
