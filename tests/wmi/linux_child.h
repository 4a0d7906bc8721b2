// Short child processes for the engine's tests on the real Linux platform.
#pragma once

#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

namespace wmi_test {

// Starts the program with its arguments; the child's id, or -1.
inline pid_t Spawn(std::vector<std::string> argv) {
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  return pid;
}

// Waits for the child's end and reaps it.
inline void Reap(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
}

}  // namespace wmi_test
