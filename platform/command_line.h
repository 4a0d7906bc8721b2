// The process's command line as one text, as Windows keeps it.
#pragma once

#include <string>

#include "platform/seam.h"

namespace platform {

// Any thread.
class CommandLineServices {
 public:
  virtual ~CommandLineServices() = default;
  // The whole command line in the active ANSI code page. On Windows it is
  // GetCommandLineA. On Linux it is rebuilt from /proc/self/cmdline: the
  // program path as typed, with every "/" written as "\" as Windows would
  // show it, then the arguments, all joined by single blanks.
  virtual std::string GetCommandLineA() = 0;
};

// The real command line of this process. Lives for the whole process.
CommandLineServices& SystemCommandLine();
// The command line in use: the real one unless a test put a fake in place.
inline CommandLineServices& CurrentCommandLine() { return CurrentService<CommandLineServices>(SystemCommandLine()); }
using ScopedCommandLineForTesting = ScopedServiceForTesting<CommandLineServices>;

}  // namespace platform
