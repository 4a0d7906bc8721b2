// The real process services of this build, driven with the stand-in installer.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "platform/text.h"
#include "tests/platform/argument_cases.h"
#include "tests/platform/standin.h"

namespace {

using platform::Handle;
using standin::StandInRun;

class ProcessServicesTest : public ::testing::Test {
 protected:
  platform::ProcessServices& mProcesses = platform::SystemProcesses();
  standin::TempFolder mFolder;
  std::filesystem::path mLog = mFolder.Path() / "runs.log";
  standin::ScopedEnvironment mLogVariable{"NVK_STANDIN_LOG", standin::Utf8(mLog)};

  platform::LaunchRecord Record(const std::u16string& parameters = u"/r:NVKM") {
    platform::LaunchRecord record;
    record.File = standin::InstallerPath();
    record.Parameters = parameters;
    record.Directory = standin::OwnFolder();
    return record;
  }

  // Launches, waits for the end and closes the handle; the run it recorded.
  StandInRun RunToEnd(const platform::LaunchRecord& record) {
    Handle process = nullptr;
    EXPECT_TRUE(mProcesses.Launch(record, &process));
    EXPECT_NE(process, nullptr);
    const platform::ProcessId id = mProcesses.ProcessIdOf(process);
    EXPECT_TRUE(standin::WaitUntilEnded(mProcesses, process));
    mProcesses.CloseHandle(process);
    // The newest record of that id: the system may have given it to an earlier run too.
    const std::vector<StandInRun> runs = standin::ReadRuns(mLog);
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
      if (run->Pid == id) return *run;
    }
    ADD_FAILURE() << "no record of process " << id;
    return {};
  }
};

TEST_F(ProcessServicesTest, LaunchPassesArgumentsAndWorkingFolder) {
  const std::filesystem::path work = mFolder.Path() / "work folder";
  std::filesystem::create_directories(work);
  platform::LaunchRecord record = Record();
  record.Directory = standin::Wide(work);
  const StandInRun run = RunToEnd(record);
  EXPECT_EQ(run.Args, std::vector<std::string>{"/r:NVKM"});
  EXPECT_TRUE(std::filesystem::equivalent(run.Cwd, work)) << run.Cwd;
  EXPECT_TRUE(std::filesystem::equivalent(run.Exe, std::filesystem::path(standin::InstallerPath()))) << run.Exe;
}

TEST_F(ProcessServicesTest, ArgumentsArriveAsWindowsSplitsThem) {
  for (const ArgumentCase& c : ArgumentCases()) {
    std::vector<std::string> expected;
    // The launch hands the text over in the ANSI code page.
    for (const std::u16string& argument : c.Arguments) {
      expected.push_back(platform::WideToUtf8(platform::AnsiToWide(platform::WideToAnsi(argument))));
    }
    EXPECT_EQ(RunToEnd(Record(c.Parameters)).Args, expected) << platform::WideToUtf8(c.Parameters);
  }
}

// The tree wait tells a member from a later process that reuses its id by
// comparing start times with the moment the member joined: both clocks must
// agree.
TEST_F(ProcessServicesTest, StartTimeLiesBetweenTheProcessClocksReadingsAroundTheLaunch) {
  standin::ScopedEnvironment sleep("NVK_STANDIN_SLEEP_MS", "300");
  const std::uint64_t before = mProcesses.ProcessClockNow();
  Handle process = nullptr;
  ASSERT_TRUE(mProcesses.Launch(Record(), &process));
  const std::uint64_t after = mProcesses.ProcessClockNow();
  std::uint64_t started = 0;
  EXPECT_TRUE(mProcesses.ProcessStartTime(process, &started));
  EXPECT_LE(before, started);
  EXPECT_LE(started, after);
  // Opened by id, the same process gives the same time.
  const Handle opened = mProcesses.OpenProcessById(mProcesses.ProcessIdOf(process));
  ASSERT_NE(opened, nullptr);
  std::uint64_t again = 0;
  EXPECT_TRUE(mProcesses.ProcessStartTime(opened, &again));
  EXPECT_EQ(again, started);
  mProcesses.CloseHandle(opened);
  EXPECT_TRUE(standin::WaitUntilEnded(mProcesses, process));
  mProcesses.CloseHandle(process);
  std::uint64_t none = 0;
  EXPECT_FALSE(mProcesses.ProcessStartTime(nullptr, &none));
}

TEST_F(ProcessServicesTest, LaunchPathBeyondTheSystemLimitFailsAsAMissingFile) {
  // Far beyond either system's path limit; the folder is real.
  platform::LaunchRecord record = Record();
  record.File = standin::OwnFolder() + std::u16string(5000, u'A');
  Handle process = reinterpret_cast<Handle>(1);
  EXPECT_FALSE(mProcesses.Launch(record, &process));
  EXPECT_EQ(process, nullptr);
  EXPECT_EQ(mProcesses.LastError(), 2u) << "ERROR_FILE_NOT_FOUND, ENOENT";
  EXPECT_TRUE(standin::ReadRuns(mLog).empty());
}

TEST_F(ProcessServicesTest, WaitTellsRunningFromEnded) {
  const std::filesystem::path go = mFolder.Path() / "go";
  standin::ScopedEnvironment waitFile("NVK_STANDIN_WAIT_FILE", standin::Utf8(go));
  Handle process = nullptr;
  ASSERT_TRUE(mProcesses.Launch(Record(), &process));
  ASSERT_NE(process, nullptr);
  // It cannot end before the file exists.
  EXPECT_EQ(mProcesses.Wait(process, 200), platform::kWaitTimeout);
  EXPECT_EQ(mProcesses.Wait(process, 0), platform::kWaitTimeout);
  standin::Release(go);
  EXPECT_TRUE(standin::WaitUntilEnded(mProcesses, process));
  // An ended process stays ended.
  EXPECT_EQ(mProcesses.Wait(process, 200), platform::kWaitObject0);
  mProcesses.CloseHandle(process);
}

TEST_F(ProcessServicesTest, NullHandleIsNeverEndedAndReturnsAtOnce) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(mProcesses.Wait(nullptr, 60000), platform::kWaitObject0);
  // A wait that slept its full minute would be far beyond this bound.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(mProcesses.ProcessIdOf(nullptr), 0u);
}

TEST_F(ProcessServicesTest, EndIsSeenWhateverTheExitCode) {
  for (const char* code : {"0", "1", "3", "255"}) {
    standin::ScopedEnvironment exitCode("NVK_STANDIN_EXIT_CODE", code);
    EXPECT_EQ(RunToEnd(Record()).Args.size(), 1u) << code;
  }
}

TEST_F(ProcessServicesTest, OpenProcessByIdFollowsTheProcessLife) {
  const std::filesystem::path go = mFolder.Path() / "go";
  standin::ScopedEnvironment waitFile("NVK_STANDIN_WAIT_FILE", standin::Utf8(go));
  Handle launched = nullptr;
  ASSERT_TRUE(mProcesses.Launch(Record(), &launched));
  const platform::ProcessId id = mProcesses.ProcessIdOf(launched);
  ASSERT_NE(id, 0u);

  // Running: it opens, and the opened handle waits like the launched one.
  Handle opened = mProcesses.OpenProcessById(id);
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(mProcesses.ProcessIdOf(opened), id);
  EXPECT_EQ(mProcesses.Wait(opened, 200), platform::kWaitTimeout);
  mProcesses.CloseHandle(opened);

  // Ended while its launch handle is held: still opens, already ended.
  standin::Release(go);
  ASSERT_TRUE(standin::WaitUntilEnded(mProcesses, launched));
  opened = mProcesses.OpenProcessById(id);
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(mProcesses.Wait(opened, 200), platform::kWaitObject0);
  mProcesses.CloseHandle(opened);

  // Ended and let go: it can no longer be opened (Wine may still hand out an
  // ended handle for a short while).
  mProcesses.CloseHandle(launched);
  bool gone = false;
  for (int attempt = 0; attempt < 300 && !gone; ++attempt) {
    opened = mProcesses.OpenProcessById(id);
    gone = opened == nullptr;
    if (!gone) {
      EXPECT_EQ(mProcesses.Wait(opened, 0), platform::kWaitObject0);
      mProcesses.CloseHandle(opened);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  EXPECT_TRUE(gone);
}

TEST_F(ProcessServicesTest, OpenProcessByUnknownIdFails) {
  for (platform::ProcessId id : {0u, 0x7FFFFFF0u, 0xFFFFFFF0u}) {
    EXPECT_EQ(mProcesses.OpenProcessById(id), nullptr) << id;
    EXPECT_NE(mProcesses.LastError(), 0u) << id;
  }
}

TEST_F(ProcessServicesTest, ProcessListFindsTheRunningStandIn) {
  const std::filesystem::path go = mFolder.Path() / "go";
  standin::ScopedEnvironment waitFile("NVK_STANDIN_WAIT_FILE", standin::Utf8(go));
  Handle launched = nullptr;
  ASSERT_TRUE(mProcesses.Launch(Record(), &launched));
  const platform::ProcessId id = mProcesses.ProcessIdOf(launched);

  Handle snapshot = mProcesses.SnapshotProcesses();
  ASSERT_NE(snapshot, nullptr);
  std::u16string name;
  int count = 0;
  platform::ProcessEntry entry;
  for (bool more = mProcesses.FirstProcess(snapshot, entry); more; more = mProcesses.NextProcess(snapshot, entry)) {
    ++count;
    if (entry.Id == id) name = entry.ExeFile;
  }
  mProcesses.CloseHandle(snapshot);
  EXPECT_EQ(name, u"Norvik_TB_Installer.exe");
  EXPECT_GT(count, 1);

  standin::Release(go);
  EXPECT_TRUE(standin::WaitUntilEnded(mProcesses, launched));
  mProcesses.CloseHandle(launched);
}

TEST_F(ProcessServicesTest, TheProcessListShowsTheOwnProcessUnderItsOwnId) {
  const platform::ProcessId own = mProcesses.OwnProcessId();
  platform::ProcessId fromAnotherThread = 0;
  std::thread([&] { fromAnotherThread = mProcesses.OwnProcessId(); }).join();
  EXPECT_EQ(fromAnotherThread, own) << "the process's id, not the thread's";

  const std::u16string ownName =
      common::FileNamePart(platform::SystemFiles().OwnExecutablePath(), common::kLinuxPathDelimiters);
  Handle snapshot = mProcesses.SnapshotProcesses();
  ASSERT_NE(snapshot, nullptr);
  std::vector<std::u16string> namesOfOwnId;
  platform::ProcessEntry entry;
  for (bool more = mProcesses.FirstProcess(snapshot, entry); more; more = mProcesses.NextProcess(snapshot, entry)) {
    if (entry.Id == own) namesOfOwnId.push_back(entry.ExeFile);
  }
  mProcesses.CloseHandle(snapshot);
  EXPECT_EQ(namesOfOwnId, std::vector<std::u16string>{ownName}) << "one entry, the test program's";
}

TEST_F(ProcessServicesTest, StandInStartsChildrenAndEndsFirst) {
  const std::filesystem::path go = mFolder.Path() / "go";
  standin::ScopedEnvironment children("NVK_STANDIN_CHILDREN", "2");
  standin::ScopedEnvironment program("NVK_STANDIN_CHILD_PROGRAM", platform::WideToUtf8(standin::ToolPath()));
  standin::ScopedEnvironment childWait("NVK_STANDIN_CHILD_DELAY_MS", "50");
  // The children start only once the parent is released, and outlive it.
  standin::ScopedEnvironment waitFile("NVK_STANDIN_WAIT_FILE", standin::Utf8(go));
  Handle launched = nullptr;
  ASSERT_TRUE(mProcesses.Launch(Record(), &launched));
  const platform::ProcessId id = mProcesses.ProcessIdOf(launched);
  standin::Release(go);
  EXPECT_TRUE(standin::WaitUntilEnded(mProcesses, launched));
  mProcesses.CloseHandle(launched);

  std::vector<StandInRun> runs;
  for (int pass = 0; pass < 600 && runs.size() < 3; ++pass) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    runs = standin::ReadRuns(mLog);
  }
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].Pid, id);
  for (const StandInRun& child : {runs[1], runs[2]}) {
    EXPECT_EQ(child.Starter, std::to_string(id));
#ifdef _WIN32
    EXPECT_EQ(child.Parent, id) << "Windows keeps the creator's id";
#endif
    EXPECT_EQ(std::filesystem::path(child.Exe).filename(), "tool.exe");
    EXPECT_TRUE(child.Args.empty());
  }
}

TEST_F(ProcessServicesTest, DebugPrivilegeStepsSucceed) {
  Handle token = nullptr;
  ASSERT_TRUE(mProcesses.OpenOwnProcessToken(&token));
  EXPECT_NE(token, nullptr);
  platform::PrivilegeId privilege = 0;
  EXPECT_TRUE(mProcesses.LookupDebugPrivilege(&privilege));
  EXPECT_NE(privilege, 0u);
  mProcesses.EnablePrivilege(token, privilege);
  mProcesses.CloseHandle(token);
  // Enabling again is harmless.
  ASSERT_TRUE(mProcesses.OpenOwnProcessToken(&token));
  mProcesses.EnablePrivilege(token, privilege);
  mProcesses.CloseHandle(token);
}

}  // namespace
