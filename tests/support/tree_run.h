// Linux: install method 1 on a real process tree of the tree_shapes program
// beside the running binary: the worker's own trace lines, when its wait
// ended and when each process of the tree ended.
#pragma once

#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/path_words.h"
#include "diag/debug_console.h"
#include "diag/debug_console_testing.h"
#include "engine/execute_program.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/support/fake_console.h"
#include "tests/support/headless_app.h"

namespace tree_run {

struct TreeProcess {
  std::uint32_t Id = 0;
  std::uint32_t Parent = 0;       // as it saw its parent when it began
  long long EndedNs = -1;         // CLOCK_MONOTONIC; -1: no end written
};

struct TreeRun {
  std::vector<std::string> WorkerLines;  // "Install Method = ", "Break by " lines
  std::vector<std::string> TrackerLines;  // every other line of the run
  long long WaitEndedNs = 0;             // CLOCK_MONOTONIC, when the worker ended
  std::vector<TreeProcess> Processes;    // in the order they began
  // Every process ended by the end of the wait. The latest end, else -1.
  long long LastEndNs() const {
    long long last = -1;
    for (const TreeProcess& process : Processes) last = process.EndedNs > last ? process.EndedNs : last;
    return last;
  }
  bool AllEndedBeforeTheWait() const {
    if (Processes.empty()) return false;
    for (const TreeProcess& process : Processes) {
      if (process.EndedNs < 0 || process.EndedNs > WaitEndedNs) return false;
    }
    return true;
  }
};

inline long long MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
}

inline std::u16string ShapesProgram() {
  return common::FolderPart(platform::SystemFiles().OwnExecutablePath(), common::kLinuxPathDelimiters) +
         u"tree_shapes";
}

// The processes the log names, with their ends.
inline std::vector<TreeProcess> ReadLog(const std::string& log) {
  std::ifstream in(log);
  std::vector<TreeProcess> processes;
  std::map<std::uint32_t, std::size_t> at;
  std::string kind;
  std::uint64_t id = 0;
  long long value = 0;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    if (!(fields >> kind >> id >> value)) continue;
    const auto pid = static_cast<std::uint32_t>(id);
    if (kind == "start" && at.count(pid) == 0) {
      at[pid] = processes.size();
      processes.push_back(TreeProcess{pid, static_cast<std::uint32_t>(value), -1});
    } else if (kind == "end") {
      if (at.count(pid) == 0) {
        at[pid] = processes.size();
        processes.push_back(TreeProcess{pid, 0, -1});
      }
      processes[at[pid]].EndedNs = value;
    }
  }
  return processes;
}

// Runs method 1 on the shape with a time-out (against hanging), then waits up
// to settleSeconds for every process of the tree to write its end. duringRun,
// if any, runs on the main thread right after the worker has started. With
// openConsole false the debug console stays as it is (closed unless opened
// before): no lines are recorded.
class ShapeRunner {
 public:
  TreeRun Run(const std::string& shape, const std::string& log, std::int32_t timeoutSeconds = 30,
              int settleSeconds = 20, const std::function<void()>& duringRun = {}, bool openConsole = true) {
    std::remove(log.c_str());
    ExeParameter request;
    request.FileName = ShapesProgram();
    request.Parameters = platform::Utf8ToWide(shape + " " + log);
    request.StageSource.assign(1, u'0');  // no staging
    request.WaitForExit = true;
    request.ShowCommand = 1;
    InstallMethodParam method;
    method.UseTimeout = 1;
    method.TimeoutSeconds = timeoutSeconds;
    bool flag = false;
    request.ResultFlag = &flag;

    const std::size_t written = mConsole.Writes().size();
    if (openConsole) DebugConsoleInstance(true);
    TreeRun run;
    RunScenario([&](ScenarioForm& form) {
      auto* worker = new ExecuteProgram(true, request, &method, INSTALLMETHOD::WaitProcessTree);
      worker->OnTerminate = [&run, &form](TObject*) {
        run.WaitEndedNs = MonotonicNs();
        form.Close();
      };
      worker->Start();
      if (duringRun) duringRun();
    });
    const std::vector<std::string> writes = mConsole.Writes();
    for (std::size_t i = written; i < writes.size(); ++i) {
      const std::string line = writes[i].substr(0, writes[i].size() - 1);
      if (line.rfind("Install Method = ", 0) == 0 || line.rfind("Break by ", 0) == 0) {
        run.WorkerLines.push_back(line);
      } else {
        run.TrackerLines.push_back(line);
      }
    }
    const auto settle = std::chrono::steady_clock::now() + std::chrono::seconds(settleSeconds);
    do {
      run.Processes = ReadLog(log);
      bool all = !run.Processes.empty();
      for (const TreeProcess& process : run.Processes) all = all && process.EndedNs >= 0;
      if (all) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < settle);
    return run;
  }

 private:
  FakeConsole mConsole;
  diag_testing::ScopedConsoleServices mConsoleScope{mConsole};
};

}  // namespace tree_run
