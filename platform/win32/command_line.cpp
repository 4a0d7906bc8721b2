// The command line on Windows.
#include <windows.h>

#include "platform/command_line_internal.h"

namespace platform {

std::string SystemCommandLineA() {
  const char* line = GetCommandLineA();
  return line ? std::string(line) : std::string();
}

}  // namespace platform
