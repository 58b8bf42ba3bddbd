#pragma once
// Ending the process at once.

namespace corvid {

// Ends the process with exitCode (1 unless told: a failure). Nothing runs after it: no destructors,
// no exit handlers, no window close handling. The log writers close their file after every record, so nothing is lost.
[[noreturn]] void ForceQuit(int exitCode = 1);

} // namespace corvid
