// The main form: the "Setup" dialog and the settings read from the command line.
#pragma once

#include <string>

#include "framework/forms.h"

class TMainForm : public TForm {
 public:
  explicit TMainForm(TComponent* owner);
  ~TMainForm() override;

  // Published handler, connected by the layout.
  void FormShow(TObject* sender);

  // Members in their declared order.
  std::u16string mInstallerFile;  // the installer to run, normally without folder
  bool mCloseOnShow = false;      // the form is shown again only to close

 private:
  void ApplyLayout();
  void ReadCommandLine();
};

extern TMainForm* MainForm;
