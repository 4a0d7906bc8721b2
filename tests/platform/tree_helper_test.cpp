// The tree helper as a program starts it, on the socket it reports through:
// it launches only on the go-ahead of a program that is still there to take
// its reports.
#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix/base/proc_scan.h"
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

// When the program closes its end of the socket.
enum class ProgramEnds { BeforeTheHelperStarts, AfterTheLaunch, WithTheHelper };

// Starts the helper with the go-ahead already waiting on its socket, as the
// program sends it, and tells it to launch the shell command. The program's
// end of the socket is closed as `ends` says: before the helper starts (the
// program was killed while it waited for the answer), once the launch has
// been reported (killed while it waited for the tree), or only after the
// helper has ended. Returns once the helper has ended, with the launched
// program's id in *launched (0 when none was reported).
HelperRun RunHelper(ProgramEnds ends, const std::string& command, pid_t* launched = nullptr) {
  HelperRun run;
  const std::string helper = platform::posix::TreeHelperPath();
  EXPECT_FALSE(helper.empty()) << "nvk_tree_helper is not beside the test";
  int pair[2];
  if (helper.empty() || socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return run;
  UniqueFd program(pair[0]);
  UniqueFd theirs(pair[1]);
  const char go = 1;
  EXPECT_EQ(send(program.Get(), &go, 1, MSG_NOSIGNAL), 1);
  if (ends == ProgramEnds::BeforeTheHelperStarts) program.Close();

  std::vector<std::string> arguments{helper, "", "/bin/sh", "-c", command};
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
      if (report.What != TreeReport::Kind::Launched) continue;
      if (launched != nullptr) *launched = static_cast<pid_t>(report.Id);
      if (ends == ProgramEnds::AfterTheLaunch) {
        program.Close();
        break;
      }
    }
  }
  while (waitpid(pid, &run.Status, 0) < 0 && errno == EINTR) {
  }
  return run;
}

TEST(TreeHelper, LaunchesOnlyForAProgramThatIsStillThere) {
  standin::TempFolder folder;

  const std::filesystem::path launched = folder.Path() / "launched";
  const HelperRun present = RunHelper(ProgramEnds::WithTheHelper, ": > '" + launched.string() + "'");
  ASSERT_TRUE(WIFEXITED(present.Status));
  EXPECT_EQ(WEXITSTATUS(present.Status), 0);
  ASSERT_FALSE(present.Reports.empty());
  EXPECT_EQ(present.Reports.front().What, TreeReport::Kind::Launched);
  EXPECT_TRUE(std::filesystem::exists(launched)) << "the program's go-ahead launched nothing";

  const std::filesystem::path orphaned = folder.Path() / "orphaned";
  const HelperRun gone = RunHelper(ProgramEnds::BeforeTheHelperStarts, ": > '" + orphaned.string() + "'");
  ASSERT_TRUE(WIFEXITED(gone.Status));
  EXPECT_EQ(WEXITSTATUS(gone.Status), 1);
  EXPECT_FALSE(std::filesystem::exists(orphaned)) << "launched for a program that had gone";
}

// A program that has gone takes no more reports: the helper ends and leaves
// the tree running, as a plain launch would have left it.
TEST(TreeHelper, EndsWhenTheProgramHasGoneAndLeavesTheTreeRunning) {
  pid_t installer = 0;
  // Bounded, so that a helper that waited for the tree still ends.
  const HelperRun run = RunHelper(ProgramEnds::AfterTheLaunch, "exec sleep 20", &installer);
  ASSERT_TRUE(WIFEXITED(run.Status));
  EXPECT_EQ(WEXITSTATUS(run.Status), 0);
  ASSERT_GT(installer, 0);
  platform::posix::ProcInfo info;
  EXPECT_TRUE(platform::posix::ReadProcStat(static_cast<std::uint32_t>(installer), info) && !info.Zombie)
      << "the helper waited for the tree of a program that had gone";
  kill(installer, SIGKILL);
}

}  // namespace
