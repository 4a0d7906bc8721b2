// What a program this process starts on Linux inherits, and the collection of
// a started child that nobody else waits for.
#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <string>

namespace platform::posix {

// posix_spawn's attribute and file-action objects, destroyed on every path.
// A child started with them gets every signal's default handling (this
// process ignores SIGPIPE, and exec would pass that on), an empty signal mask
// and no descriptor above standard error, except the one it is told to keep.
class SpawnSettings {
 public:
  SpawnSettings();
  // The same, except that the child also gets `kept` (a descriptor of this
  // process, normally close-on-exec) as its descriptor 3.
  explicit SpawnSettings(int kept);
  ~SpawnSettings();
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

  // False when the C library refused a setting (errno says why); the
  // settings are then not to be used.
  bool Ready() const { return mError == 0; }
  // The child starts in the folder; nothing when the folder is empty. Both
  // additions are made only to ready settings, and may leave them unready.
  void ChangeDirectory(const std::string& directory);
  // The child reads its standard input from /dev/null.
  void InputFromNull();

  const posix_spawnattr_t* Attributes() const { return &mAttributes; }
  const posix_spawn_file_actions_t* Actions() const { return &mActions; }

 private:
  // True for a call's success; otherwise records its error (and sets errno).
  bool Try(int error);

  int mError = 0;
  bool mHasAttributes = false;
  bool mHasActions = false;
  posix_spawnattr_t mAttributes{};
  posix_spawn_file_actions_t mActions{};
};

// Waits for the started child on a thread of its own, so that it never stays
// a zombie and the caller never waits; when no thread can be had, the child
// stays a zombie until this process ends.
void ReapWhenEnded(pid_t child);

}  // namespace platform::posix
