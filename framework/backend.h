// What a window system gives the framework: windows for forms, a message loop,
// and a way to show an error. One backend per build (Win32 or FLTK), and a
// headless one for tests.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/seam.h"

class Exception;
class TButton;
class THTMLCheckBox;
class THTMLabel;
class TImage;
class TPanel;
class TForm;

namespace framework {

// The window of one form. Created by the backend on the main thread, used and
// destroyed there.
class FormWindow {
 public:
  virtual ~FormWindow() = default;
  virtual void SetVisible(bool visible) = 0;
  // Make the counterpart of a control; called once per control, in the order
  // the controls were made, before the window is first shown. The control
  // outlives the window.
  virtual void AddButton(TButton& button) = 0;
  virtual void AddPanel(TPanel& panel) = 0;
  virtual void AddImage(TImage& image) = 0;
  // A label is laid out here with the measurer of its font (and sizes itself
  // to its text when it does so).
  virtual void AddLabel(THTMLabel& label) = 0;
  virtual void AddCheckBox(THTMLCheckBox& checkBox) = 0;
};

class Backend {
 public:
  virtual ~Backend() = default;
  // Called once by TApplication::Initialize on the main thread.
  virtual void Initialize() = 0;
  // The dpi of the display a form opens on, asked just before its window is
  // first made; the form is laid out at it. Zero or less (and the default)
  // stands for 96, the density the layout is stored at. Main thread.
  virtual int DisplayDpi() { return 0; }
  // Makes the window of a form from the form's properties.
  virtual std::unique_ptr<FormWindow> CreateFormWindow(TForm& form) = 0;
  // Runs the message loop until QuitLoop is called.
  virtual void RunLoop() = 0;
  // Asks the loop to return; called on the main thread.
  virtual void QuitLoop() = 0;
  // Shows the exception's message to the user and returns when it is dismissed.
  virtual void ShowException(const Exception& error) = 0;
  // Makes the main thread call framework::CheckSynchronize soon, also while a
  // modal message loop runs. Safe from any thread.
  virtual void WakeMainThread() = 0;
  // Calls tick on the main thread every interval until stopped; returns a
  // nonzero id. Main thread only.
  virtual int StartTimer(unsigned intervalMs, std::function<void()> tick) = 0;
  virtual void StopTimer(int id) = 0;
};

// The build's own backend (Win32 or FLTK; headless in the tests' build of the
// framework), made on first use; it lives until the process ends.
Backend& SystemBackend();
// The backend in use: the build's own unless a test put another in place.
// Any thread.
inline Backend& CurrentBackend() { return platform::CurrentService<Backend>(SystemBackend()); }
// Puts a test's backend in place for its lifetime; made and ended on the main
// thread while no application runs.
using ScopedBackendForTesting = platform::ScopedServiceForTesting<Backend>;
// Makes the build's own backend. Defined by exactly one backend file.
std::unique_ptr<Backend> CreatePlatformBackend();

}  // namespace framework
