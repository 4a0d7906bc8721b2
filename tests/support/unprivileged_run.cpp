// Runs a test program as the unprivileged user 65534 (nobody), from a fresh
// folder that user owns, with copies of the files the run needs.
// Usage: nvk_unprivileged_run FILE... -- PROGRAM [ARGUMENT...]
// Every FILE is copied into the folder (mode 0755); PROGRAM is the name of
// one of them. TMPDIR and HOME point at the folder. The exit status is the
// program's; 125 when the privileges could not be dropped (which fails the
// test: it must never run as root unnoticed). The folder goes afterwards.
#include <errno.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;
constexpr int kCannotDrop = 125;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "nvk_unprivileged_run: %s: %s\n", what, std::strerror(errno));
  _exit(kCannotDrop);
}

// In the child: this process becomes 65534 for good, or ends.
void DropPrivileges() {
  if (setgroups(0, nullptr) != 0) Fail("setgroups");
  if (setgid(kNogroup) != 0) Fail("setgid");
  if (setuid(kNobody) != 0) Fail("setuid");
  if (getuid() != kNobody || geteuid() != kNobody || getgid() != kNogroup || getegid() != kNogroup) {
    errno = EPERM;
    Fail("ids after the drop");
  }
  if (setuid(0) == 0) {
    errno = EPERM;
    Fail("root could be regained");
  }
}

}  // namespace

int main(int argc, char** argv) {
  int separator = 1;
  while (separator < argc && std::strcmp(argv[separator], "--") != 0) ++separator;
  if (separator + 1 >= argc) {
    std::fprintf(stderr, "usage: nvk_unprivileged_run FILE... -- PROGRAM [ARGUMENT...]\n");
    return 2;
  }
  char pattern[] = "/tmp/nvk-unprivileged-XXXXXX";
  if (mkdtemp(pattern) == nullptr) Fail("mkdtemp");
  const std::filesystem::path folder = pattern;
  std::error_code error;
  for (int i = 1; i < separator; ++i) {
    const std::filesystem::path source = argv[i];
    const std::filesystem::path target = folder / source.filename();
    if (!std::filesystem::copy_file(source, target, error)) Fail(("copy " + source.string()).c_str());
    chmod(target.c_str(), 0755);
  }
  if (chmod(folder.c_str(), 0755) != 0 || chown(folder.c_str(), kNobody, kNogroup) != 0) Fail("folder");

  const pid_t child = fork();
  if (child < 0) Fail("fork");
  if (child == 0) {
    DropPrivileges();
    if (chdir(folder.c_str()) != 0) Fail("chdir");
    setenv("TMPDIR", folder.c_str(), 1);
    setenv("HOME", folder.c_str(), 1);
    const std::string program = (folder / argv[separator + 1]).string();
    std::vector<char*> arguments{const_cast<char*>(program.c_str())};
    for (int i = separator + 2; i < argc; ++i) arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    execv(program.c_str(), arguments.data());
    Fail("exec");
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  std::filesystem::remove_all(folder, error);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  std::fprintf(stderr, "nvk_unprivileged_run: the program ended by signal %d\n", WTERMSIG(status));
  return 1;
}
