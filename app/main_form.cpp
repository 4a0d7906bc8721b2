// The main form: layout, command line and the show handler.
#include "app/main_form.h"

#include "diag/debug_console.h"
#include "framework/sysutils.h"
#include "platform/command_line.h"
#include "platform/text.h"

TMainForm* MainForm = nullptr;

namespace {
constexpr std::u16string_view kDefaultInstaller = u"Norvik_TB_Installer.exe";
constexpr std::u16string_view kFileSwitch = u"/FILE:";
constexpr std::u16string_view kDebugSwitch = u"/DEBUG";
}  // namespace

TMainForm::TMainForm(TComponent* owner) : TForm(owner) {
  ApplyLayout();
  ReadCommandLine();
}

TMainForm::~TMainForm() = default;

void TMainForm::ApplyLayout() {
  FormProperties& form = Properties();
  form.Caption = u"Setup";
  form.ClientWidth = 442;
  form.ClientHeight = 397;
  form.BorderStyle = TFormBorderStyle::bsSingle;
  form.MinimizeBox = true;
  form.MaximizeBox = false;
  form.Position = TPosition::poDesktopCenter;
  OnShow = [this](TObject* sender) { FormShow(sender); };
}

void TMainForm::ReadCommandLine() {
  const std::u16string line = AnsiUpperCase(platform::AnsiToWide(platform::GetCommandLineA()));

  mInstallerFile = kDefaultInstaller;
  mCloseOnShow = false;

  if (const std::size_t p = Pos(kFileSwitch, line); p != 0) {
    std::u16string value = line.substr(p - 1 + kFileSwitch.size());
    if (const std::size_t slash = value.find(u'/'); slash != std::u16string::npos) value.resize(slash);
    mInstallerFile = Trim(value);
  }

  if (Pos(kDebugSwitch, line) != 0) DebugConsoleInstance(true);
}

void TMainForm::FormShow(TObject* /*sender*/) {
  if (mCloseOnShow) Close();
}
