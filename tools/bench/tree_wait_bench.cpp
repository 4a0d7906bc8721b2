// Benchmark (Linux): for each shape of process tree, the time from the end of
// the last process of the tree to the end of install method 1's wait, through
// the real event service; median of several runs, with the runs in which the
// wait ended before the tree (which a test would fail) counted apart. Run
// as root, it then runs itself again as user 65534 (without the kernel's
// process events: through the tree helper) and prints those figures below.
// `nvk_tree_wait_bench --storm` instead measures the CPU share of one wait
// (console closed) while another program starts 1,000 processes a second,
// as root and then as 65534.
#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <string>
#include <vector>

#include "tests/support/tree_run.h"

namespace {

struct Shape {
  const char* Name;
  int Runs;
};

constexpr uid_t kNobody = 65534;

extern "C" char** environ;

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One wait for the "children" tree (5 s) while the process-events
// benchmark's storm generator starts 1,000 /bin/true a second: the CPU of
// this program, and of the tree helper where one ran (reaped by then).
void StormWait() {
  const std::string generator = platform::WideToUtf8(
      common::FolderPart(platform::SystemFiles().OwnExecutablePath(), common::kLinuxPathDelimiters) +
      u"nvk_process_events_bench");
  char* argv[] = {const_cast<char*>(generator.c_str()), const_cast<char*>("--storm-generator"),
                  const_cast<char*>("1000"), const_cast<char*>("8"), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t storm = 0;
  const bool storming = posix_spawn(&storm, argv[0], &actions, nullptr, argv, environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const std::string log = "/tmp/nvk-tree-wait-storm-" + std::to_string(getpid()) + ".log";
  tree_run::ShapeRunner runner;
  const double selfBefore = CpuSeconds(RUSAGE_SELF);
  const double childrenBefore = CpuSeconds(RUSAGE_CHILDREN);
  const long long begin = tree_run::MonotonicNs();
  const tree_run::TreeRun run = runner.Run("children", log, 30, 0, {}, false);
  const double wall = static_cast<double>(run.WaitEndedNs - begin) / 1e9;
  const double self = CpuSeconds(RUSAGE_SELF) - selfBefore;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the helper ends with the tree and is reaped
  const double helper = CpuSeconds(RUSAGE_CHILDREN) - childrenBefore;
  if (storming) waitpid(storm, nullptr, 0);
  std::remove(log.c_str());
  std::printf("%s: a wait of %.1f s under a storm of 1,000 process starts a second (console closed): "
              "program %.2f %% of one core, tree helper %.2f %%\n",
              geteuid() == 0 ? "as root (kernel events)" : "unprivileged (tree helper, /proc polling)", wall,
              100.0 * self / wall, 100.0 * helper / wall);
}

// Runs this program again as user 65534 and waits for it; false when the
// privileges could not be dropped.
bool RunUnprivileged(const char* self, const char* mode) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0 || geteuid() != kNobody) _exit(125);
    execl(self, self, mode, static_cast<char*>(nullptr));
    _exit(126);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "--storm" || mode == "--storm-as-is") {
    StormWait();
    if (geteuid() == 0 && mode == "--storm" && !RunUnprivileged("/proc/self/exe", "--storm-as-is")) {
      std::printf("the unprivileged run failed\n");
    }
    return 0;
  }
  const bool asIs = mode == "--as-is";
  const Shape shapes[] = {{"quick", 7}, {"helpers", 5}, {"children", 3}, {"early", 5}, {"daemon", 5}, {"many", 3}};
  const std::string log = "/tmp/nvk-tree-wait-bench-" + std::to_string(getpid()) + ".log";
  tree_run::ShapeRunner runner;
  std::printf("%s, source: %s\n", geteuid() == 0 ? "as root" : "unprivileged",
              geteuid() == 0 ? "the kernel's process events" : "the tree helper's reports and /proc polling");
  std::printf("%-9s %8s %8s %8s %6s %6s\n", "shape", "median", "min", "max", "runs", "early");
  for (const Shape& shape : shapes) {
    std::vector<double> seconds;
    int early = 0;
    for (int i = 0; i < shape.Runs; ++i) {
      const tree_run::TreeRun run = runner.Run(shape.Name, log);
      const bool timedOut = std::find(run.WorkerLines.begin(), run.WorkerLines.end(), "Break by time out") !=
                            run.WorkerLines.end();
      if (timedOut || run.LastEndNs() < 0) continue;
      if (!run.AllEndedBeforeTheWait()) ++early;
      seconds.push_back(static_cast<double>(run.WaitEndedNs - run.LastEndNs()) / 1e9);
    }
    std::remove(log.c_str());
    if (seconds.empty()) {
      std::printf("%-9s no run ended by the tree's end\n", shape.Name);
      continue;
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("%-9s %7.3fs %7.3fs %7.3fs %6zu %6d\n", shape.Name, seconds[seconds.size() / 2], seconds.front(),
                seconds.back(), seconds.size(), early);
  }
  if (geteuid() == 0 && !asIs) {
    std::printf("\n");
    if (!RunUnprivileged("/proc/self/exe", "--as-is")) {
      std::printf("the unprivileged run failed (run as root from a folder user 65534 can reach)\n");
    }
  }
  return 0;
}
