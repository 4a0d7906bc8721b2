// Test override of the command line, shared by both platforms.
#include "platform/command_line.h"

#include "platform/command_line_internal.h"

namespace platform {

std::optional<std::string>& CommandLineOverride() {
  static std::optional<std::string> line;
  return line;
}

std::string GetCommandLineA() {
  if (CommandLineOverride()) return *CommandLineOverride();
  return SystemCommandLineA();
}

ScopedCommandLineForTesting::ScopedCommandLineForTesting(std::string line)
    : mPrevious(CommandLineOverride()) {
  CommandLineOverride() = std::move(line);
}

ScopedCommandLineForTesting::~ScopedCommandLineForTesting() { CommandLineOverride() = mPrevious; }

}  // namespace platform
