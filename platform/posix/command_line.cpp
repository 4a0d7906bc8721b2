// The command line on Linux, rebuilt from /proc/self/cmdline as Windows would show it.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "platform/command_line.h"
#include "platform/posix/unique_fd.h"

namespace platform {
namespace {

std::string ReadCommandLine() {
  std::string raw;
  const posix::UniqueFd fd(open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC));
  if (!fd.IsValid()) return {};
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd.Get(), buffer, sizeof buffer);
    if (n > 0) {
      raw.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
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
