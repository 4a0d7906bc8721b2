// Forms and the application object.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "framework/backend.h"
#include "framework/classes.h"
#include "framework/controls.h"
#include "framework/exception.h"

enum class TFormBorderStyle { bsSizeable, bsSingle };
enum class TPosition { poDesigned, poDesktopCenter };

// The properties a form's window is made from.
struct FormProperties {
  std::u16string Caption;
  int ClientWidth = 0;
  int ClientHeight = 0;
  TFormBorderStyle BorderStyle = TFormBorderStyle::bsSizeable;
  bool MinimizeBox = true;
  bool MaximizeBox = true;
  TPosition Position = TPosition::poDesigned;
  TColor Color = clBtnFace;
  TFont Font;  // the controls' font unless they have their own
};

class TForm : public TComponent {
 public:
  explicit TForm(TComponent* owner);
  ~TForm() override;

  FormProperties& Properties() { return mProperties; }
  const FormProperties& Properties() const { return mProperties; }

  bool Visible() const { return mVisible; }
  // True shows the form (making its window on first use) and raises OnShow;
  // false hides it.
  void SetVisible(bool visible);
  // Hides the form unless CloseQuery refuses; closing the main form ends the
  // message loop. A close request from the window system (the close box, a
  // WM_CLOSE of another program) comes here too. Main thread.
  void Close();
  // Whether the form may close now; true unless a derived form says otherwise.
  virtual bool CloseQuery() { return true; }

  // Lays the form out at dpi from its properties and controls as stored at
  // 96 dpi (the first call takes them as they are then): the client size,
  // the font and every control are scaled. The form does this itself with
  // the backend's DisplayDpi before its window is first made; a window whose
  // display changes calls it again and lays its controls out anew. Main thread.
  void ScaleTo(int dpi);
  // The dpi the form is laid out at (96 until it is scaled).
  int Dpi() const { return mDpi; }

  TNotifyEvent OnShow;

 private:
  FormProperties mProperties;
  bool mStored = false;
  int mStoredClientWidth = 0;
  int mStoredClientHeight = 0;
  TFont mStoredFont;
  int mDpi = framework::kDesignDpi;
  std::unique_ptr<framework::FormWindow> mWindow;
  bool mVisible = false;
};

class TApplication : public TComponent {
 public:
  TApplication();
  ~TApplication() override;

  // Readies the framework (on Windows with COM on this thread, single-threaded
  // apartment) and the process.
  void Initialize();
  // Constructs a form owned by the application; the first becomes the main form.
  template <class FormClass>
  void CreateForm(FormClass*& reference) {
    reference = new FormClass(this);
    if (mMainForm == nullptr) mMainForm = reference;
  }
  // Shows the main form and runs the message loop until it closes; then
  // destroys the forms. An exception that left an event handler meanwhile is
  // rethrown here.
  void Run();
  void ShowException(const Exception& error);
  // The full path of the running program's file.
  std::u16string ExeName() const;

  // Runs an event handler for the message loop: an exception that leaves it
  // ends the loop and is rethrown by Run.
  void DeliverEvent(const std::function<void()>& handler);

  // Called by a form that closes.
  void FormClosed(TForm* form);

  TForm* MainForm() const { return mMainForm; }
  bool MainFormOnTaskBar = false;

 private:
  TForm* mMainForm = nullptr;
  std::exception_ptr mPendingError;
  bool mRunning = false;
};

extern TApplication* Application;
