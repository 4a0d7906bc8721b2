// Spawn settings shared by every program this process starts on Linux.
#include "platform/posix/launch/spawn.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <system_error>
#include <thread>

namespace platform::posix {
namespace {

constexpr int kKeptDescriptor = 3;

}  // namespace

SpawnSettings::SpawnSettings() : SpawnSettings(-1) {}

SpawnSettings::SpawnSettings(int kept) {
  if (!Try(posix_spawnattr_init(&mAttributes))) return;
  mHasAttributes = true;
  if (!Try(posix_spawn_file_actions_init(&mActions))) return;
  mHasActions = true;
  // Every signal, the C library's own two (32 and 33) included: sigfillset
  // leaves them out, and the spawn helper would then hand them on ignored
  // whenever this process has handlers for them.
  sigset_t all;
  std::memset(&all, 0xFF, sizeof all);
  sigset_t none;
  sigemptyset(&none);
  static_cast<void>(Try(posix_spawnattr_setsigdefault(&mAttributes, &all)) &&
                    Try(posix_spawnattr_setsigmask(&mAttributes, &none)) &&
                    Try(posix_spawnattr_setflags(&mAttributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK)) &&
                    (kept < 0 || Try(posix_spawn_file_actions_adddup2(&mActions, kept, kKeptDescriptor))) &&
                    Try(posix_spawn_file_actions_addclosefrom_np(&mActions, kept < 0 ? STDERR_FILENO + 1
                                                                                     : kKeptDescriptor + 1)));
}

SpawnSettings::~SpawnSettings() {
  if (mHasActions) posix_spawn_file_actions_destroy(&mActions);
  if (mHasAttributes) posix_spawnattr_destroy(&mAttributes);
}

void SpawnSettings::ChangeDirectory(const std::string& directory) {
  if (Ready() && !directory.empty()) Try(posix_spawn_file_actions_addchdir_np(&mActions, directory.c_str()));
}

void SpawnSettings::InputFromNull() {
  if (Ready()) Try(posix_spawn_file_actions_addopen(&mActions, STDIN_FILENO, "/dev/null", O_RDONLY, 0));
}

bool SpawnSettings::Try(int error) {
  if (error == 0) return true;
  mError = error;
  errno = error;
  return false;
}

void ReapWhenEnded(pid_t child) {
  try {
    std::thread([child] {
      while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread to be had.
  }
}

}  // namespace platform::posix
