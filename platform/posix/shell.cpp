// Opening a target with its default handler on Linux: xdg-open, spawned
// directly with the target as its one argument and reaped off the UI thread.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>

#include "platform/shell.h"
#include "platform/text.h"

extern char** environ;

namespace platform {
namespace {

// posix_spawn's attribute and file-action objects, destroyed on every path.
class SpawnSetup {
 public:
  SpawnSetup() {
    mReady = posix_spawnattr_init(&mAttributes) == 0;
    if (mReady && posix_spawn_file_actions_init(&mActions) != 0) {
      posix_spawnattr_destroy(&mAttributes);
      mReady = false;
    }
  }
  ~SpawnSetup() {
    if (mReady) {
      posix_spawn_file_actions_destroy(&mActions);
      posix_spawnattr_destroy(&mAttributes);
    }
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // The child gets default signal dispositions and an empty signal mask (the
  // process may ignore SIGPIPE, which exec would pass on), standard input from
  // /dev/null, and no descriptor above standard error.
  bool Prepare() {
    if (!mReady) return false;
    // Every signal, the C library's own two (32 and 33) included: sigfillset
    // leaves them out, and the spawn helper would then hand them on ignored
    // whenever this process has handlers for them.
    sigset_t all;
    std::memset(&all, 0xFF, sizeof all);
    sigset_t none;
    sigemptyset(&none);
    return posix_spawnattr_setsigdefault(&mAttributes, &all) == 0 &&
           posix_spawnattr_setsigmask(&mAttributes, &none) == 0 &&
           posix_spawnattr_setflags(&mAttributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK) == 0 &&
           posix_spawn_file_actions_addopen(&mActions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0 &&
           posix_spawn_file_actions_addclosefrom_np(&mActions, STDERR_FILENO + 1) == 0;
  }

  const posix_spawnattr_t* Attributes() const { return &mAttributes; }
  const posix_spawn_file_actions_t* Actions() const { return &mActions; }

 private:
  bool mReady = false;
  posix_spawnattr_t mAttributes{};
  posix_spawn_file_actions_t mActions{};
};

// Waits for the child on a thread of its own, so that a handler that runs as
// long as the browser never holds up the caller and never stays a zombie.
void ReapLater(pid_t child) {
  try {
    std::thread([child] {
      while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the child stays a zombie until the process ends.
  }
}

}  // namespace

bool OpenWithDefaultHandler(std::u16string_view target) {
  std::string program = "xdg-open";
  std::string argument = WideToUtf8(target);
  if (argument.find('\0') != std::string::npos) return false;

  SpawnSetup setup;
  if (!setup.Prepare()) return false;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, program.c_str(), setup.Actions(), setup.Attributes(), argv, environ) != 0) return false;
  ReapLater(child);
  return true;
}

}  // namespace platform
