// Benchmark (Linux): the time from the end of the last process of a launched
// tree to the end of install method 1's wait, through the real event
// service; median of several runs. The tree: the stand-in beside this program
// starts a child of 0.5 s and ends at once.
#include <sys/prctl.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common/path_words.h"
#include "engine/execute_program.h"
#include "platform/files.h"
#include "tests/support/headless_app.h"

namespace {

using Clock = std::chrono::steady_clock;

bool HasEnded(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  return close == std::string::npos || close + 2 >= text.size() || text[close + 2] == 'Z';
}

// The child's id from the stand-in's log: the second "run" record.
int ChildId(const std::string& log) {
  std::ifstream in(log);
  std::string line;
  int seen = 0;
  while (std::getline(in, line)) {
    if (line.rfind("run ", 0) == 0 && ++seen == 2) return std::atoi(line.c_str() + 4);
  }
  return 0;
}

// One run: seconds from the child's end (polled every millisecond) to the
// worker's end; negative when the run went wrong.
double OneRun(const std::u16string& installer, const std::string& log) {
  std::remove(log.c_str());
  ExeParameter request;
  request.FileName = installer;
  request.StageSource.assign(1, u'0');  // no staging
  request.WaitForExit = true;
  request.ShowCommand = 1;
  InstallMethodParam method;
  method.UseTimeout = 1;
  method.TimeoutSeconds = 30;

  std::atomic<bool> stop{false};
  std::atomic<long long> childEnded{0};
  std::thread watcher([&] {
    int child = 0;
    while (!stop && childEnded == 0) {
      if (child == 0) child = ChildId(log);
      if (child != 0 && HasEnded(child)) childEnded = Clock::now().time_since_epoch().count();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (child != 0) waitpid(child, nullptr, 0);
  });
  Clock::time_point ended;
  RunScenario([&](ScenarioForm& form) {
    auto* worker = new ExecuteProgram(true, request, &method, INSTALLMETHOD::WaitProcessTree);
    worker->OnTerminate = [&](TObject*) {
      ended = Clock::now();
      form.Close();
    };
    worker->Start();
  });
  stop = true;
  watcher.join();
  if (childEnded == 0) return -1;
  return std::chrono::duration<double>(ended - Clock::time_point(Clock::duration(childEnded.load()))).count();
}

}  // namespace

int main() {
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  const std::u16string self = platform::SystemFiles().OwnExecutablePath();
  const std::u16string installer = common::FolderPart(self, common::kLinuxPathDelimiters) + u"Norvik_TB_Installer.exe";
  const std::string log = "/tmp/nvk-tree-wait-bench.log";
  setenv("NVK_STANDIN_LOG", log.c_str(), 1);
  setenv("NVK_STANDIN_CHILDREN", "1", 1);
  setenv("NVK_STANDIN_CHILD_DELAY_MS", "0", 1);
  setenv("NVK_STANDIN_CHILD_SLEEP_MS", "500", 1);

  std::vector<double> seconds;
  for (int run = 0; run < 7; ++run) {
    const double s = OneRun(installer, log);
    if (s >= 0) seconds.push_back(s);
  }
  if (seconds.empty()) {
    std::printf("no run measured\n");
    return 1;
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("tree's end to the end of method 1's wait: median %.3f s (min %.3f, max %.3f, %zu runs)\n",
              seconds[seconds.size() / 2], seconds.front(), seconds.back(), seconds.size());
  return 0;
}
