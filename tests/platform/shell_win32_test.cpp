// Opening a target with its default handler on Windows: a program opened
// through the shell runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "platform/shell.h"
#include "tests/platform/standin.h"

namespace {

TEST(LinkOpener, OpeningAProgramRunsIt) {
  standin::TempFolder folder;
  const std::filesystem::path log = folder.Path() / "runs.log";
  const standin::ScopedEnvironment logVariable{"NVK_STANDIN_LOG", standin::Utf8(log)};

  ASSERT_TRUE(platform::SystemLinkOpener().OpenWithDefaultHandler(standin::InstallerPath()));
  // The shell hands no process back: the stand-in's record tells that it ran
  // (waited for in steps, up to a generous minute).
  std::vector<standin::StandInRun> runs;
  for (int pass = 0; pass < 300 && runs.empty(); ++pass) {
    runs = standin::ReadRuns(log);
    if (runs.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(std::filesystem::equivalent(runs[0].Exe, std::filesystem::path(standin::InstallerPath()))) << runs[0].Exe;
  EXPECT_TRUE(runs[0].Args.empty());
  // The run ends before its folder goes.
  platform::ProcessServices& processes = platform::SystemProcesses();
  if (platform::Handle process = processes.OpenProcessById(runs[0].Pid)) {
    EXPECT_TRUE(standin::WaitUntilEnded(processes, process));
    processes.CloseHandle(process);
  }
}

}  // namespace
