// Process preparation on Linux.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "platform/posix/base/unique_fd.h"
#include "platform/startup.h"

namespace platform {
namespace {

class PosixStartup final : public Startup {
 public:
  void PrepareProcess() override;
};

void PosixStartup::PrepareProcess() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    // open returns the lowest free descriptor, which is this one: it stays
    // open as the standard descriptor for the life of the process.
    posix::UniqueFd opened(open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY));
    if (opened.Get() == fd) static_cast<void>(opened.Release());
  }
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace

Startup& SystemStartup() {
  static PosixStartup startup;
  return startup;
}

}  // namespace platform
