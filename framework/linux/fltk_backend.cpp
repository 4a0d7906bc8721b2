// The framework's backend on Linux: FLTK's set-up and error reports, the
// message loop with wake-ups from other threads, timers, the error message,
// and serving the workers after the display is lost. The display lives in
// display.cpp, forms' windows in form_window.cpp, their widgets in
// control_widgets.cpp and check_box_widget.cpp.
#include <FL/Fl.H>
#include <FL/fl_ask.H>
#include <FL/x.H>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "framework/backend.h"
#include "framework/forms.h"
#include "framework/linux/display.h"
#include "framework/linux/display_scale.h"
#include "framework/linux/form_window.h"
#include "framework/linux/xft_text.h"
#include "framework/paths.h"
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

class FltkBackend final : public Backend {
 public:
  void Initialize() override {
    Fl::fatal = &ThrowReport;
    Fl::error = &ThrowReport;
    Fl::lock();  // lets other threads wake the loop with Fl::awake
  }

  // Read once, when the first form opens: NVK_SCALE's factor when it gives
  // one, else the X server's Xft.dpi, else 96.
  int DisplayDpi() override {
    if (mDpi == 0) {
      const char* resources = ConnectDisplay() ? XResourceManagerString(fl_display) : nullptr;
      mDpi = ChooseDisplayDpi(std::getenv("NVK_SCALE"), resources);
    }
    return mDpi;
  }

  std::unique_ptr<FormWindow> CreateFormWindow(TForm& form) override {
    LoadWineFonts();  // Tahoma from fonts-wine, before Xft opens its first font
    if (!ConnectDisplay()) throw Exception(DisplayRefusedMessage());
    return std::make_unique<FltkWindow>(form);
  }

  void RunLoop() override {
    mQuit = false;
    // Fl::wait() without a time returns at once while no window is shown
    // (the dialog hides while the installer runs): always wait with a limit.
    while (!mQuit && !DisplayLost()) Fl::wait(1e20);
    if (!mQuit) ServeWithoutDisplay();
  }

  void QuitLoop() override {
    mQuit = true;
    Fl::awake();
    Wake();
  }

  void WakeMainThread() override {
    Wake();
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
    // A display that refused the program or broke away gets no window.
    if (!mDisplayRefused && !DisplayLost() && DisplayAvailable()) {
      const std::string title = platform::WideToUtf8(ApplicationTitle());
      fl_message_title(title.c_str());
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

  // After the display is lost: the main thread serves the workers' calls
  // until no worker is left (their termination notices delivered), then the
  // loop ends. The timers stop: what they would show needs the window.
  void ServeWithoutDisplay() {
    while (!mQuit && RunningThreadCount() > 0) {
      {
        std::unique_lock<std::mutex> lock(mWakeMutex);
        mWakeSignal.wait_for(lock, std::chrono::milliseconds(100), [this] { return mWoken; });
        mWoken = false;
      }
      CheckSynchronize();
    }
  }

  void Wake() {
    {
      std::lock_guard<std::mutex> lock(mWakeMutex);
      mWoken = true;
    }
    mWakeSignal.notify_one();
  }

  // Opens the display unless it is open; once refused, it stays refused (the
  // dpi query and the window it comes before make one attempt between them).
  bool ConnectDisplay() {
    if (fl_display != nullptr) return true;
    if (!mDisplayRefused) mDisplayRefused = !OpenDisplay();
    return !mDisplayRefused;
  }

  static void TimerTick(void* data) {
    auto* timer = static_cast<Timer*>(data);
    Fl::repeat_timeout(timer->Seconds, &FltkBackend::TimerTick, data);
    const std::function<void()> tick = timer->Tick;  // the tick may stop and free this timer
    tick();
  }

  bool mQuit = false;
  bool mDisplayRefused = false;
  int mDpi = 0;  // 0 until the first form asks
  std::mutex mWakeMutex;
  std::condition_variable mWakeSignal;
  bool mWoken = false;  // guarded by mWakeMutex
  std::map<int, std::unique_ptr<Timer>> mTimers;
  int mNextTimerId = 1;
};

}  // namespace

std::unique_ptr<Backend> CreatePlatformBackend() { return std::make_unique<FltkBackend>(); }

}  // namespace framework
