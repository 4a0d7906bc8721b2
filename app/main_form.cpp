// The main form: the command line, the install run and the show handler.
#include "app/main_form.h"

#include "diag/debug_console.h"
#include "engine/execute_program.h"
#include "framework/paths.h"
#include "framework/sysutils.h"
#include "platform/command_line.h"
#include "platform/text.h"

TMainForm* MainForm = nullptr;

namespace {
constexpr std::u16string_view kDefaultInstaller = u"Norvik_TB_Installer.exe";
constexpr std::u16string_view kFileSwitch = u"/FILE:";
constexpr std::u16string_view kDebugSwitch = u"/DEBUG";
constexpr std::u16string_view kInstallerArguments = u"/r:NVKM";
constexpr unsigned kPauseMs = 100;
}  // namespace

TMainForm::TMainForm(TComponent* owner) : TForm(owner) {
  ApplyLayout();
  ReadCommandLine();
}

TMainForm::~TMainForm() {
  DestroyComponents();  // their handlers refer to this form
}

void TMainForm::ReadCommandLine() {
  const std::u16string line = AnsiUpperCase(platform::AnsiToWide(platform::CurrentCommandLine().GetCommandLineA()));

  mInstallerFile = kDefaultInstaller;
  mCloseOnShow = false;

  if (const std::size_t p = Pos(kFileSwitch, line); p != 0) {
    std::u16string value = line.substr(p - 1 + kFileSwitch.size());
    if (const std::size_t slash = value.find(u'/'); slash != std::u16string::npos) value.resize(slash);
    mInstallerFile = Trim(value);
  }

  if (Pos(kDebugSwitch, line) != 0) DebugConsoleInstance(true);
}

void TMainForm::InstallBtnClick(TObject* /*sender*/) {
  // Once per dialog: a click queued while this handler pauses (a quick double
  // click) reaches it again after the worker has been made.
  if (mWorker != nullptr) return;

  mMethodParam.SpareNumber = 0;
  mMethodParam.IgnoreProcessEnd = false;
  mMethodParam.UseTimeout = 0;

  mExeParam.FileName =
      ExpandFileName(IncludeTrailingPathDelimiter(ExtractFilePath(Application->ExeName())) + mInstallerFile);
  mExeParam.Parameters = kInstallerArguments;
  mExeParam.StageSource = IntToStr(0);
  mExeParam.RemoveStaged = false;
  mExeParam.WaitForExit = true;
  mExeParam.BootOptionFile.clear();
  mExeParam.ShowCommand = 1;
  mExeParam.ResultFlag = &mRunResult;

  mWorker = new ExecuteProgram(true, mExeParam, &mMethodParam, INSTALLMETHOD::WaitLaunchedExe);
  mWorker->OnTerminate = [this](TObject* sender) { WorkerTerminate(sender); };
  Sleep(kPauseMs);
  mWorker->Start();
  SetVisible(false);
}

void TMainForm::WorkerTerminate(TObject* /*sender*/) {
  Sleep(kPauseMs);
  CloseTimer->SetEnabled(true);
}

void TMainForm::CloseTimerTimer(TObject* /*sender*/) {
  mCloseOnShow = true;
  SetVisible(true);
}

// Running (worker made, close timer not yet armed) is left only by the
// worker's termination notice: a close request meanwhile is ignored.
bool TMainForm::CloseQuery() { return mWorker == nullptr || CloseTimer->Enabled(); }

void TMainForm::FormShow(TObject* /*sender*/) {
  if (mCloseOnShow) Close();
}
