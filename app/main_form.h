// The main form: the "Setup" dialog, the settings read from the command line
// and the install run.
#pragma once

#include <string>

#include "common/request.h"
#include "framework/controls.h"
#include "framework/forms.h"
#include "framework/timers.h"

class ExecuteProgram;

class TMainForm : public TForm {
 public:
  explicit TMainForm(TComponent* owner);
  ~TMainForm() override;

  // Controls made by the layout (owned by the form), in the layout's order.
  TPanel* Panel1 = nullptr;
  TImage* Image2 = nullptr;
  THTMLabel* GoogleMsgLbl0 = nullptr;
  THTMLabel* GoogleMsgLbl1 = nullptr;
  THTMLabel* GoogleMsgLbl2 = nullptr;
  THTMLabel* GoogleMsgLbl3 = nullptr;
  THTMLabel* GoogleMsgLbl4 = nullptr;
  THTMLabel* GoogleMsgLbl5 = nullptr;
  THTMLCheckBox* GoogleDefChk = nullptr;
  THTMLabel* GoogleMsgLbl6 = nullptr;
  THTMLabel* GoogleMsgLbl7 = nullptr;
  TButton* InstallBtn = nullptr;
  TTimer* CloseTimer = nullptr;

  // Published handlers, connected by the layout.
  void InstallBtnClick(TObject* sender);
  void CloseTimerTimer(TObject* sender);
  void FormShow(TObject* sender);
  // The worker's termination notice, connected in code.
  void WorkerTerminate(TObject* sender);
  // False while the install run is running.
  bool CloseQuery() override;

  // Members in their declared order.
  std::u16string mInstallerFile;      // the installer to run, normally without folder
  bool mRunResult = false;            // the worker's hand-back; never read
  ExecuteProgram* mWorker = nullptr;  // stale once the worker has ended
  bool mCloseOnShow = false;          // the form is shown again only to close
  ExeParameter mExeParam;
  InstallMethodParam mMethodParam;

 private:
  void ApplyLayout();
  void ReadCommandLine();
};

extern TMainForm* MainForm;
