// Benchmark (Linux): for each shape of process tree, the time from the end of
// the last process of the tree to the end of install method 1's wait, through
// the real event service; median of several runs, with the runs in which the
// wait ended before the tree (which a test would fail) counted apart.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/tree_run.h"

namespace {

struct Shape {
  const char* Name;
  int Runs;
};

}  // namespace

int main() {
  const Shape shapes[] = {{"quick", 7}, {"helpers", 5}, {"children", 3}, {"early", 5}, {"daemon", 5}, {"many", 3}};
  const std::string log = "/tmp/nvk-tree-wait-bench-" + std::to_string(getpid()) + ".log";
  tree_run::ShapeRunner runner;
  std::printf("%s, source: %s\n", geteuid() == 0 ? "as root" : "unprivileged",
              "the system's process events");
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
  return 0;
}
