// The command line on Windows.
#include <windows.h>

#include "platform/command_line.h"

namespace platform {
namespace {

class Win32CommandLine final : public CommandLineServices {
 public:
  std::string GetCommandLineA() override {
    const char* line = ::GetCommandLineA();
    return line ? std::string(line) : std::string();
  }
};

}  // namespace

CommandLineServices& SystemCommandLine() {
  static Win32CommandLine* const line = new Win32CommandLine();  // lives for the process
  return *line;
}

}  // namespace platform
