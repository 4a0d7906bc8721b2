// Reading a whole file into memory on Linux.
#include "platform/posix/read_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace platform::posix {

std::string ReadWholeFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string content;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      content.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(fd);
  return content;
}

}  // namespace platform::posix
