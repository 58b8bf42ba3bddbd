#include "platform/ForceQuit.h"

#include <cstdio>
#include <cstdlib>

namespace corvid {

void ForceQuit(int exitCode) {
    // Diagnostics already printed to stdout/stderr are not worth losing.
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

} // namespace corvid
