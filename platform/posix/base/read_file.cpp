// Reading a whole file into memory on Linux.
#include "platform/posix/base/read_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/base/unique_fd.h"

namespace platform::posix {

bool ReadWholeFile(const std::string& path, std::string* content) {
  const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.IsValid()) return false;
  content->clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd.Get(), buffer, sizeof buffer);
    if (n > 0) {
      content->append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      return true;
    } else if (errno != EINTR) {
      return false;
    }
  }
}

std::string ReadWholeFile(const std::string& path) {
  std::string content;
  if (!ReadWholeFile(path, &content)) content.clear();
  return content;
}

}  // namespace platform::posix
