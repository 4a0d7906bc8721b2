// The framework's backend on Linux: FLTK windows and message loop.
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_ask.H>
#include <FL/x.H>
#include <X11/Xlib.h>

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "framework/backend.h"
#include "framework/controls.h"
#include "framework/forms.h"
#include "framework/threads.h"
#include "platform/text.h"

namespace framework {
namespace {

std::string FormatMessage(const char* format, va_list args) {
  char buffer[1024];
  std::vsnprintf(buffer, sizeof buffer, format, args);
  return buffer;
}

// FLTK's fatal and error reports become exceptions, so that they reach the
// entry point's guard instead of ending the process with code 1.
[[noreturn]] void ThrowReport(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatMessage(format, args);
  va_end(args);
  throw Exception(platform::Utf8ToWide(text));
}

bool DisplayAvailable() {
  if (fl_display != nullptr) return true;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  XCloseDisplay(display);
  return true;
}

class FltkWindow final : public FormWindow {
 public:
  explicit FltkWindow(TForm& form)
      : mForm(form),
        mCaption(platform::WideToUtf8(form.Properties().Caption)),
        mWindow(form.Properties().ClientWidth, form.Properties().ClientHeight, mCaption.c_str()) {
    const FormProperties& p = form.Properties();
    mWindow.end();
    if (p.BorderStyle == TFormBorderStyle::bsSingle) {
      mWindow.size_range(p.ClientWidth, p.ClientHeight, p.ClientWidth, p.ClientHeight);
    }
    if (p.Position == TPosition::poDesktopCenter) {
      int x = 0, y = 0, w = 0, h = 0;
      Fl::screen_xywh(x, y, w, h);
      mWindow.position(x + (w - p.ClientWidth) / 2, y + (h - p.ClientHeight) / 2);
    }
    mWindow.callback(&FltkWindow::CloseBox, this);
  }

  void AddButton(TButton& button) override {
    mWindow.begin();
    auto* widget = new Fl_Button(button.FormLeft(), button.FormTop(), button.Width, button.Height);
    mWindow.end();
    widget->copy_label(platform::WideToUtf8(button.Caption).c_str());
    widget->labelsize(11);
    widget->callback(
        [](Fl_Widget*, void* data) {
          auto* target = static_cast<TButton*>(data);
          Application->DeliverEvent([target] { target->Click(); });
        },
        &button);
  }

  void SetVisible(bool visible) override {
    if (visible) {
      mWindow.show();
    } else {
      mWindow.hide();
    }
  }

 private:
  static void CloseBox(Fl_Widget*, void* data) {
    auto* self = static_cast<FltkWindow*>(data);
    Application->DeliverEvent([self] { self->mForm.Close(); });
  }

  TForm& mForm;
  std::string mCaption;
  Fl_Double_Window mWindow;
};

class FltkBackend final : public Backend {
 public:
  void Initialize() override {
    Fl::fatal = &ThrowReport;
    Fl::error = &ThrowReport;
    Fl::lock();  // lets other threads wake the loop with Fl::awake
  }

  std::unique_ptr<FormWindow> CreateFormWindow(TForm& form) override {
    fl_open_display();  // a missing display throws through Fl::fatal
    return std::make_unique<FltkWindow>(form);
  }

  void RunLoop() override {
    mQuit = false;
    // Fl::wait() without a time returns at once while no window is shown
    // (the dialog hides while the installer runs): always wait with a limit.
    while (!mQuit) Fl::wait(1e20);
  }

  void QuitLoop() override {
    mQuit = true;
    Fl::awake();
  }

  void WakeMainThread() override {
    Fl::awake([](void*) { CheckSynchronize(); }, nullptr);
  }

  int StartTimer(unsigned intervalMs, std::function<void()> tick) override {
    const int id = mNextTimerId++;
    auto timer = std::make_unique<Timer>(Timer{intervalMs / 1000.0, std::move(tick)});
    Fl::add_timeout(timer->Seconds, &FltkBackend::TimerTick, timer.get());
    mTimers[id] = std::move(timer);
    return id;
  }

  void StopTimer(int id) override {
    const auto found = mTimers.find(id);
    if (found == mTimers.end()) return;
    Fl::remove_timeout(&FltkBackend::TimerTick, found->second.get());
    mTimers.erase(found);
  }

  void ShowException(const Exception& error) override {
    const std::string text = platform::WideToUtf8(error.Message());
    if (DisplayAvailable()) {
      fl_message_title("ToolbarSetup");
      fl_alert("%s", text.c_str());
    } else {
      std::fprintf(stderr, "%s\n", text.c_str());
    }
  }

 private:
  struct Timer {
    double Seconds;
    std::function<void()> Tick;
  };

  static void TimerTick(void* data) {
    auto* timer = static_cast<Timer*>(data);
    Fl::repeat_timeout(timer->Seconds, &FltkBackend::TimerTick, data);
    const std::function<void()> tick = timer->Tick;  // the tick may stop and free this timer
    tick();
  }

  bool mQuit = false;
  std::map<int, std::unique_ptr<Timer>> mTimers;
  int mNextTimerId = 1;
};

}  // namespace

std::unique_ptr<Backend> CreatePlatformBackend() { return std::make_unique<FltkBackend>(); }

}  // namespace framework
