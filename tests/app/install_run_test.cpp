// The dialog's install run from "Install" to the end of the program, on the
// headless framework with scripted process services.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <functional>
#include <memory>

#include "app/main_form.h"
#include "framework/headless/headless_backend.h"
#include "framework/paths.h"
#include "platform/text.h"
#include "tests/support/fake_command_line.h"
#include "tests/support/service_fakes.h"

namespace {

class InstallRunTest : public ServiceFakesTest {
 protected:
  // Starts the program with the given arguments, presses "Install" (unless
  // told to close the dialog instead) and runs until the program ends.
  void RunProgram(const std::string& arguments, bool pressInstall = true) {
    FakeCommandLine line("ToolbarSetup " + arguments);
    mBackend = std::make_unique<framework::HeadlessBackend>();
    framework::ScopedBackendForTesting use(*mBackend);
    Application->Initialize();
    Application->CreateForm(MainForm);
    TMainForm* form = MainForm;
    mBackend->Post([this, form, pressInstall] {
      mVisibleBefore = form->Visible();
      if (!pressInstall) {
        form->Close();
        return;
      }
      if (mBeforeClick) mBeforeClick(*form);
      form->InstallBtn->Click();
      mVisibleAfterClick = form->Visible();
      mCheckedAfterClick = true;
      if (mAfterClick) mAfterClick(*form);
    });
    Application->Run();
  }

  std::u16string ProgramFolder() { return ExtractFilePath(Application->ExeName()); }

  std::unique_ptr<framework::HeadlessBackend> mBackend;  // the last run's
  bool mVisibleBefore = false;
  bool mVisibleAfterClick = true;
  bool mCheckedAfterClick = false;
  std::function<void(TMainForm&)> mBeforeClick;  // runs right before "Install", in the same handler turn
  std::function<void(TMainForm&)> mAfterClick;   // runs right after "Install", in the same handler turn
};

TEST_F(InstallRunTest, InstallLaunchesTheInstallerBesideTheProgramWaitsAndCloses) {
  mProcesses.WaitsBeforeEnd = 2;
  const std::thread::id mainThread = std::this_thread::get_id();
  std::vector<std::uint32_t> pausesAtLaunch;
  mProcesses.OnLaunch = [&] { pausesAtLaunch = mClock.SleepsOn(mainThread); };
  RunProgram("/DEBUG");
  EXPECT_EQ(pausesAtLaunch, (std::vector<std::uint32_t>{100})) << "a pause before the worker starts";
  EXPECT_EQ(mClock.SleepsOn(mainThread), (std::vector<std::uint32_t>{100, 100}))
      << "and one in the termination notice";
  EXPECT_EQ(mClock.Sleeps().size(), 2u) << "nothing else pauses";
  const FakeProcesses::Record record = mProcesses.Snapshot();
  EXPECT_EQ(platform::WideToUtf8(record.Launched.File),
            platform::WideToUtf8(ProgramFolder() + u"Norvik_TB_Installer.exe"));
  EXPECT_EQ(record.Launched.Parameters, u"/r:NVKM");
  EXPECT_EQ(record.Launched.Directory, ProgramFolder());
  EXPECT_EQ(record.Launched.ShowCommand, 1);
  EXPECT_TRUE(mVisibleBefore);
  ASSERT_TRUE(mCheckedAfterClick);
  EXPECT_FALSE(mVisibleAfterClick) << "the dialog hides while the installer runs";
  ASSERT_EQ(mBackend->Windows().size(), 1u);
  EXPECT_EQ(mBackend->Windows()[0].ShowCount, 2) << "shown at start, and again only to close";
  EXPECT_FALSE(mBackend->Windows()[0].Visible);
  EXPECT_EQ(Trace(), (std::vector<std::string>{"Install Method = 0", "Break by handle closed"}));
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
  EXPECT_TRUE(mBackend->ShownErrors().empty());
}

TEST_F(InstallRunTest, InstallFillsTheRequestAndTheHandBackReachesTheForm) {
  // Every field starts out with a value other than the one "Install" is to
  // leave there; the result flag starts out opposite to the launch result.
  for (const bool launches : {true, false}) {
    SCOPED_TRACE(launches ? "launched" : "launch failed");
    FakeProcesses processes;
    processes.LaunchSucceeds = launches;
    processes.WaitsBeforeEnd = 1;
    ExeParameter exeParam;
    InstallMethodParam methodParam;
    bool* resultPlace = nullptr;
    bool resultAtClose = launches;
    mBeforeClick = [launches](TMainForm& form) {
      form.mRunResult = !launches;
      form.mExeParam.RemoveStaged = true;
      form.mExeParam.WaitForExit = false;
      form.mExeParam.BootOptionFile = u"boot.ini";
      form.mExeParam.ShowCommand = 7;
      form.mMethodParam.SpecificExeName = u"kept.exe";
      form.mMethodParam.SpareText = u"kept";
      form.mMethodParam.SearchSpecificExe = true;
      form.mMethodParam.SpareNumber = 9;
      form.mMethodParam.TimeoutSeconds = 5;
      form.mMethodParam.UseTimeout = 1;
      form.mMethodParam.IgnoreProcessEnd = true;
    };
    mAfterClick = [&](TMainForm& form) {
      exeParam = form.mExeParam;
      methodParam = form.mMethodParam;
      resultPlace = &form.mRunResult;
      // The show after the run closes the form: the hand-back has been written by then.
      form.OnShow = [&form, &resultAtClose, show = form.OnShow](TObject* sender) {
        resultAtClose = form.mRunResult;
        show(sender);
      };
    };
    RunProgram("");

    EXPECT_EQ(exeParam.FileName, ExpandFileName(ProgramFolder() + u"Norvik_TB_Installer.exe"));
    EXPECT_EQ(exeParam.Parameters, u"/r:NVKM");
    EXPECT_EQ(exeParam.StageSource, u"0");
    EXPECT_FALSE(exeParam.RemoveStaged);
    EXPECT_TRUE(exeParam.WaitForExit);
    EXPECT_EQ(exeParam.BootOptionFile, u"");
    EXPECT_EQ(exeParam.ShowCommand, 1);
    EXPECT_EQ(exeParam.ResultFlag, resultPlace);
    EXPECT_NE(resultPlace, nullptr);
    // Set by "Install":
    EXPECT_EQ(methodParam.SpareNumber, 0);
    EXPECT_EQ(methodParam.UseTimeout, 0);
    EXPECT_FALSE(methodParam.IgnoreProcessEnd);
    // Never set by it:
    EXPECT_EQ(methodParam.SpecificExeName, u"kept.exe");
    EXPECT_EQ(methodParam.SpareText, u"kept");
    EXPECT_TRUE(methodParam.SearchSpecificExe);
    EXPECT_EQ(methodParam.TimeoutSeconds, 5);

    EXPECT_EQ(resultAtClose, launches) << "the worker's hand-back is the launch result";
    EXPECT_EQ(mBackend->Windows()[0].ShowCount, 2);
  }
}

TEST_F(InstallRunTest, FailedLaunchClosesTheDialogAllTheSame) {
  mProcesses.LaunchSucceeds = false;
  RunProgram("/debug /file:missing.exe");
  EXPECT_EQ(platform::WideToUtf8(mProcesses.Snapshot().Launched.File),
            platform::WideToUtf8(ProgramFolder() + u"MISSING.EXE"));
  EXPECT_EQ(Trace(), (std::vector<std::string>{"Install Method = 0"}));
  EXPECT_EQ(mBackend->Windows()[0].ShowCount, 2);
}

TEST_F(InstallRunTest, FileValuesResolveAgainstTheProgramFolder) {
  struct Case {
    std::string arguments;
    std::u16string expected;  // after the program's folder, as the full path shows it
  };
#ifdef _WIN32
  const Case cases[] = {{"/FILE:", u""}, {"/FILE:sub\\tool.exe", u"SUB\\TOOL.EXE"}};
#else
  const Case cases[] = {{"/FILE:", u""}, {"/FILE:sub\\tool.exe", u"SUB/TOOL.EXE"}};
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    FakeProcesses processes;
    processes.WaitsBeforeEnd = 0;
    RunProgram(c.arguments);
    EXPECT_EQ(platform::WideToUtf8(processes.Snapshot().Launched.File),
              platform::WideToUtf8(ProgramFolder() + c.expected));
  }
  // A parent-folder step leaves the program's folder.
  FakeProcesses processes;
  processes.WaitsBeforeEnd = 0;
  RunProgram("/FILE:..\\up.exe");
  const std::u16string launched = processes.Snapshot().Launched.File;
  EXPECT_EQ(launched, ExpandFileName(ProgramFolder() + u"..\\UP.EXE"));
  EXPECT_EQ(launched.find(u".."), std::u16string::npos) << platform::WideToUtf8(launched);
}

TEST_F(InstallRunTest, CopyRequestCopiesNothingTracesNothingAndCloses) {
  RunProgram("/DEBUG /FILE:COPYFILE");
  EXPECT_TRUE(mProcesses.Snapshot().Calls.empty());
  EXPECT_TRUE(Trace().empty());
  EXPECT_EQ(mBackend->Windows()[0].ShowCount, 2);
}

TEST_F(InstallRunTest, ASecondClickOnInstallLaunchesNothingMore) {
  // As a click queued while the first click's handler paused would arrive.
  mAfterClick = [](TMainForm& form) { form.InstallBtn->Click(); };
  mProcesses.WaitsBeforeEnd = 2;
  RunProgram("/DEBUG");
  const std::vector<std::string> calls = mProcesses.Snapshot().Calls;
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "Launch"), 1);
  EXPECT_EQ(Trace(), (std::vector<std::string>{"Install Method = 0", "Break by handle closed"}));
  EXPECT_EQ(mBackend->Windows()[0].ShowCount, 2);
}

TEST_F(InstallRunTest, CloseRequestWhileRunningIsIgnored) {
  // The hidden dialog is asked to close while the installer runs: the run
  // goes on to its end and the dialog closes only after it.
  mAfterClick = [](TMainForm& form) { form.Close(); };
  mProcesses.WaitsBeforeEnd = 3;
  RunProgram("/DEBUG");
  EXPECT_EQ(Trace(), (std::vector<std::string>{"Install Method = 0", "Break by handle closed"}));
  EXPECT_EQ(mBackend->Windows()[0].ShowCount, 2) << "closed only by the show after the run";
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

TEST_F(InstallRunTest, ClosingBeforeInstallLaunchesNothing) {
  RunProgram("/DEBUG", false);
  EXPECT_TRUE(mProcesses.Snapshot().Calls.empty());
  EXPECT_TRUE(Trace().empty());
  EXPECT_EQ(mBackend->Windows()[0].ShowCount, 1);
}

}  // namespace
