// Process-wide preparation done once, first thing at start.
#pragma once

namespace platform {

// Windows: restricts the DLL search path to the system folder where the
// system offers that, and takes the current folder out of it.
// Linux: opens descriptors 0 to 2 on /dev/null if they are closed, and ignores
// SIGPIPE so that a broken pipe never ends the program.
void PrepareProcess();

}  // namespace platform
