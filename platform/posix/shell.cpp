// Opening a target with its default handler on Linux: xdg-open, spawned
// directly with the target as its one argument and reaped off the UI thread.
#include <spawn.h>

#include <string>

#include "platform/posix/launch/spawn.h"
#include "platform/shell.h"
#include "platform/text.h"

extern char** environ;

namespace platform {
namespace {

class PosixLinkOpener final : public LinkOpener {
 public:
  bool OpenWithDefaultHandler(std::u16string_view target) override;
};

bool PosixLinkOpener::OpenWithDefaultHandler(std::u16string_view target) {
  std::string program = "xdg-open";
  std::string argument = WideToUtf8(target);
  if (argument.find('\0') != std::string::npos) return false;

  // Standard input from /dev/null: the handler never reads this process's.
  posix::SpawnSettings setup;
  setup.InputFromNull();
  if (!setup.Ready()) return false;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, program.c_str(), setup.Actions(), setup.Attributes(), argv, environ) != 0) return false;
  posix::ReapWhenEnded(child);
  return true;
}

}  // namespace

LinkOpener& SystemLinkOpener() {
  static PosixLinkOpener opener;
  return opener;
}

}  // namespace platform
