// The worker's staged folder at the end of a run: removed only once nothing
// launched from it can still run, kept with a trace line otherwise; and a
// termination request during staging, which launches nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "framework/paths.h"
#include "tests/support/fake_files.h"
#include "tests/support/fake_paths.h"
#include "tests/support/worker_fixture.h"

#ifndef _WIN32
#include "tests/support/linux_event_objects.h"
#include "tests/support/fake_wmi.h"
#endif

namespace {

const std::string kKept = "Staged folder kept: the installer is still running";

class StagedRunTest : public WorkerFixture {
 protected:
  // The installer's folder with a few files, staged with "1" into /tmp.
  static void AddInstallerFolder(FakeFiles& files, int extraFiles) {
    files.Temp = P(u"/tmp/");
    files.AddFolder(P(u"/tmp"));
    files.AddFile(kFolder + u"Norvik_TB_Installer.exe", "program");
    files.AddFile(kFolder + u"setup.ini", "BootOption=1\n");
    for (int i = 0; i < extraFiles; ++i) files.AddFile(kFolder + u"f" + platform::Utf8ToWide(std::to_string(1000 + i)), "f");
  }
  void StageWithRemoval() {
    mParam.StageSource = u"1";
    mParam.BootOptionFile = u"setup.ini";
    mParam.RemoveStaged = true;
  }
  static std::u16string Staged(std::u16string_view rest) {
    return P(u"/tmp/" + ExtractFileName(ExcludeTrailingPathDelimiter(kFolder)) + std::u16string(rest));
  }
};

TEST_F(StagedRunTest, StagedFolderGoesOnlyWhenNothingLaunchedFromItCanStillRun) {
  struct Case {
    const char* What;
    std::int32_t Method;
    std::function<void(CaseFakes&)> Prepare;
    bool Removed;
  };
  const auto timeOut = [this](CaseFakes& fakes) {
    fakes.Processes.WaitsBeforeEnd = -1;
    fakes.Processes.OnWait = [&fakes](int) { fakes.Clock.Advance(1); };
    TimeOutAfter(2);
  };
  const Case cases[] = {
      {"method 0, the installer ended", 0, [](CaseFakes& f) { f.Processes.WaitsBeforeEnd = 1; }, true},
      {"method 0, not waited for", 0, [this](CaseFakes&) { mParam.WaitForExit = false; }, false},
      {"method 0, time-out", 0, timeOut, false},
      {"method 0, its end ignored until the time-out", 0,
       [this](CaseFakes& f) {
         f.Processes.WaitsBeforeEnd = 0;  // it has ended, but nobody asks
         mMethod.IgnoreProcessEnd = true;
         TimeOutAfter(0);
       },
       false},
      {"method 0, the open by id failed", 0,
       [](CaseFakes& f) {
         f.Processes.WaitsBeforeEnd = -1;
         f.Processes.OpensBeforeFailure = 2;
       },
       false},
      {"method 0, the launch failed", 0, [](CaseFakes& f) { f.Processes.LaunchSucceeds = false; }, true},
      {"method 3, nothing launched", 3, [](CaseFakes&) {}, true},
      {"method 2, the installer ended", 2, [](CaseFakes& f) { f.Processes.WaitsBeforeEnd = 2; }, true},
      {"method 2, time-out", 2, timeOut, false},
      {"method 2, not waited for", 2, [this](CaseFakes&) { mParam.WaitForExit = false; }, false},
      {"method 1, time-out", 1,
       [this](CaseFakes& f) {
         f.Processes.WaitsBeforeEnd = -1;
         TimeOutAfter(1);
       },
       false},
      {"method 1, not waited for", 1, [this](CaseFakes&) { mParam.WaitForExit = false; }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    CaseFakes fakes;
    FakeFiles files;
    AddInstallerFolder(files, 3);
    mParam = InstallerRequest();
    mParam.ResultFlag = &mFlag;
    mMethod = InstallMethodParam{};
    StageWithRemoval();
    c.Prepare(fakes);
    RunWorker(c.Method);
    const std::vector<std::string> writes = fakes.Console.Writes();
    const long keptLines = std::count(writes.begin(), writes.end(), kKept + "\n");
    EXPECT_EQ(files.Has(Staged(u"")), !c.Removed);
    EXPECT_EQ(keptLines, c.Removed ? 0 : 1);
    if (!c.Removed) {
      EXPECT_EQ(writes.back(), kKept + "\n") << "the last line of the run";
      EXPECT_TRUE(files.Has(Staged(u"/Norvik_TB_Installer.exe"))) << "the folder is kept whole";
      EXPECT_TRUE(files.Has(Staged(u"/f1002")));
    }
    EXPECT_TRUE(files.Has(kFolder + u"Norvik_TB_Installer.exe"));
  }
}

TEST_F(StagedRunTest, TerminationKeepsTheStagedFolderWithoutALine) {
  FakeFiles files;
  AddInstallerFolder(files, 0);
  StageWithRemoval();
  mProcesses.WaitsBeforeEnd = -1;
  mProcesses.OnWait = [this](int count) {
    if (count == 2) mWorker->Terminate();
  };
  EXPECT_EQ(Run(0), (Lines{"Install Method = 0", "Break by user terminate"}));
  EXPECT_TRUE(files.Has(Staged(u"/Norvik_TB_Installer.exe")));
}

// A fake whose copy asks the worker to terminate at its Nth file.
TEST_F(StagedRunTest, TerminationDuringTheCopyStopsTheStagingAndLaunchesNothing) {
  for (const int askAt : {1, 4, 40}) {
    SCOPED_TRACE(askAt);
    CaseFakes fakes;
    FakeFiles files;
    AddInstallerFolder(files, 50);
    mParam = InstallerRequest();
    mParam.ResultFlag = &mFlag;
    StageWithRemoval();
    mParam.RemoveStaged = false;  // removed all the same: nothing was launched from it
    mFlag = true;
    files.OnCopy = [this, askAt](int copied) {
      if (copied == askAt) mWorker->Terminate();
    };
    RunWorker(0);
    const std::vector<std::string> changes = files.Changes();
    EXPECT_EQ(std::count_if(changes.begin(), changes.end(), [](const std::string& c) { return c.rfind("Copy ", 0) == 0; }),
              askAt)
        << "nothing copied after the request";
    EXPECT_TRUE(fakes.Processes.Snapshot().Calls.empty()) << "nothing launched";
    const std::vector<std::string> writes = fakes.Console.Writes();
    EXPECT_EQ(writes, (std::vector<std::string>{"Break by user terminate\n"}));
    EXPECT_FALSE(files.Has(Staged(u""))) << "what was staged is removed";
    EXPECT_FALSE(mFlag) << "handed back as a launch that did not happen";
    EXPECT_FALSE(mRemoveStagedAtEnd);
    EXPECT_EQ(files.Find(kFolder + u"setup.ini")->Data, "BootOption=1\n");
    EXPECT_TRUE(files.Has(kFolder + u"f1049"));
  }
}

TEST_F(StagedRunTest, SettingsFileFailureRemovesTheStagedCopyLaunchesAndHandsBackNothing) {
  FakeFiles files;
  AddInstallerFolder(files, 2);
  StageWithRemoval();
  mParam.RemoveStaged = false;
  mParam.BootOptionFile = P(u"/etc/passwd");
  files.AddFile(P(u"/etc/passwd"), "BootOption=1\n");
  mFlag = true;
  EXPECT_TRUE(Run(0).empty());
  EXPECT_TRUE(mProcesses.Snapshot().Calls.empty());
  EXPECT_EQ(HandBacks(), 0);
  EXPECT_TRUE(mFlag);
  EXPECT_FALSE(files.Has(Staged(u"")));
  EXPECT_TRUE(files.Has(P(u"/tmp")));
  EXPECT_EQ(files.Find(P(u"/etc/passwd"))->Data, "BootOption=1\n");
}

#ifndef _WIN32
// Method 1 with the scripted management service: the tree ends, the wait
// sees it, and the staged folder goes.
TEST_F(StagedRunTest, MethodOneRemovesTheStagedFolderOnceTheTreeHasEnded) {
  FakeFiles files;
  AddInstallerFolder(files, 0);
  StageWithRemoval();
  FakeWmi wmi;
  TimeOutAfter(3600);  // against hanging only
  mProcesses.LaunchedId = 4242;
  std::atomic<bool> installerEnded{false};
  mProcesses.RunningId = [&installerEnded](platform::ProcessId id) { return id == 4242 && !installerEnded; };
  std::thread service([&] {
    while (!mStarted || mClock.Sleeps().size() < 2) std::this_thread::yield();
    EXPECT_TRUE(files.Has(Staged(u"/Norvik_TB_Installer.exe"))) << "there while the tree runs";
    IWbemClassObject* child = NewProcessEventObject(4242, 5000);
    IWbemClassObject* installer = NewProcessEventObject(1, 4242);
    wmi.Deliver({child});
    wmi.Deliver({installer});
    installerEnded = true;
    child->Release();
    installer->Release();
  });
  const Lines lines = Run(1);
  service.join();
  EXPECT_EQ(Count(lines, "Break by handle closed"), 1);
  EXPECT_EQ(Count(lines, kKept), 0);
  EXPECT_FALSE(files.Has(Staged(u"")));
}
#endif

}  // namespace
