// The tree helper as a program starts it, on the socket it reports through:
// it launches only on the go-ahead of a program that is still there to take
// its reports.
#include <gtest/gtest.h>

#include <errno.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix/base/unique_fd.h"
#include "platform/posix/launch/spawn.h"
#include "platform/posix/tree/followed_launch.h"
#include "platform/posix/tree/tree_follower.h"
#include "tests/platform/standin.h"

extern char** environ;

namespace {

using platform::posix::TreeReport;
using platform::posix::UniqueFd;

struct HelperRun {
  int Status = -1;                 // as waitpid gives it
  std::vector<TreeReport> Reports;  // what the helper sent, in order
};

// Starts the helper with the go-ahead already waiting on its socket, as the
// program sends it; with programGone the program's end of the socket is
// closed before the helper starts, as when the program was killed while it
// waited for the answer. The helper is told to launch a shell that creates
// marker. Returns once the helper has ended.
HelperRun RunHelper(bool programGone, const std::filesystem::path& marker) {
  HelperRun run;
  const std::string helper = platform::posix::TreeHelperPath();
  EXPECT_FALSE(helper.empty()) << "nvk_tree_helper is not beside the test";
  int ends[2];
  if (helper.empty() || socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return run;
  UniqueFd program(ends[0]);
  UniqueFd theirs(ends[1]);
  const char go = 1;
  EXPECT_EQ(send(program.Get(), &go, 1, MSG_NOSIGNAL), 1);
  if (programGone) program.Close();

  std::vector<std::string> arguments{helper, "", "/bin/sh", "-c", ": > '" + marker.string() + "'"};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  platform::posix::SpawnSettings settings(theirs.Get());
  pid_t pid = 0;
  const int failure = posix_spawn(&pid, helper.c_str(), settings.Actions(), settings.Attributes(), argv.data(), environ);
  EXPECT_EQ(failure, 0) << std::strerror(failure);
  if (failure != 0) return run;
  theirs.Close();

  if (program.IsValid()) {
    TreeReport report;
    ssize_t received = 0;
    while ((received = recv(program.Get(), &report, sizeof report, 0)) != 0) {
      if (received < 0 && errno == EINTR) continue;
      if (received != static_cast<ssize_t>(sizeof report)) break;
      run.Reports.push_back(report);
    }
  }
  while (waitpid(pid, &run.Status, 0) < 0 && errno == EINTR) {
  }
  return run;
}

TEST(TreeHelper, LaunchesOnlyForAProgramThatIsStillThere) {
  standin::TempFolder folder;

  const std::filesystem::path launched = folder.Path() / "launched";
  const HelperRun present = RunHelper(false, launched);
  ASSERT_TRUE(WIFEXITED(present.Status));
  EXPECT_EQ(WEXITSTATUS(present.Status), 0);
  ASSERT_FALSE(present.Reports.empty());
  EXPECT_EQ(present.Reports.front().What, TreeReport::Kind::Launched);
  EXPECT_TRUE(std::filesystem::exists(launched)) << "the program's go-ahead launched nothing";

  const std::filesystem::path orphaned = folder.Path() / "orphaned";
  const HelperRun gone = RunHelper(true, orphaned);
  ASSERT_TRUE(WIFEXITED(gone.Status));
  EXPECT_EQ(WEXITSTATUS(gone.Status), 1);
  EXPECT_FALSE(std::filesystem::exists(orphaned)) << "launched for a program that had gone";
}

}  // namespace
