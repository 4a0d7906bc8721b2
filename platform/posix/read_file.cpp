// Reading a whole file into memory on Linux.
#include "platform/posix/read_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/unique_fd.h"

namespace platform::posix {

std::string ReadWholeFile(const std::string& path) {
  const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.IsValid()) return {};
  std::string content;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd.Get(), buffer, sizeof buffer);
    if (n > 0) {
      content.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  return content;
}

}  // namespace platform::posix
