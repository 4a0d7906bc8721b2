// The process's command line as one text, as Windows keeps it.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The whole command line in the active ANSI code page. On Windows it is
// GetCommandLineA. On Linux it is rebuilt from /proc/self/cmdline: the program
// path as typed, with every "/" written as "\" as Windows would show it, then
// the arguments, all joined by single blanks.
std::string GetCommandLineA();

// Tests replace the command line for the lifetime of this object.
class ScopedCommandLineForTesting {
 public:
  explicit ScopedCommandLineForTesting(std::string line);
  ~ScopedCommandLineForTesting();
  ScopedCommandLineForTesting(const ScopedCommandLineForTesting&) = delete;
  ScopedCommandLineForTesting& operator=(const ScopedCommandLineForTesting&) = delete;

 private:
  std::optional<std::string> mPrevious;
};

}  // namespace platform
