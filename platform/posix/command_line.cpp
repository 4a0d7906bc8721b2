// The command line on Linux, rebuilt from /proc/self/cmdline as Windows would show it.
#include <algorithm>

#include "platform/command_line.h"
#include "platform/posix/base/read_file.h"

namespace platform {
namespace {

std::string ReadCommandLine() {
  std::string raw = posix::ReadWholeFile("/proc/self/cmdline");
  if (!raw.empty() && raw.back() == '\0') raw.pop_back();
  // The program path comes first; Windows writes it with backslashes.
  const std::size_t programEnd = std::min(raw.find('\0'), raw.size());
  std::replace(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(programEnd), '/', '\\');
  std::replace(raw.begin(), raw.end(), '\0', ' ');
  return raw;
}

class PosixCommandLine final : public CommandLineServices {
 public:
  std::string GetCommandLineA() override { return ReadCommandLine(); }
};

}  // namespace

CommandLineServices& SystemCommandLine() {
  static PosixCommandLine* const line = new PosixCommandLine();  // lives for the process
  return *line;
}

}  // namespace platform
