// A backend without windows, for tests: it records what the framework asks of
// it and runs a message loop fed by posted tasks, in the order they arrive,
// and by timers on the real clock.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "framework/backend.h"
#include "framework/forms.h"

namespace framework {

class HeadlessBackend final : public Backend {
 public:
  struct WindowRecord {
    FormProperties Properties;
    bool Visible = false;
    int ShowCount = 0;
    std::vector<TButton*> Buttons;    // in the order they were added
    std::vector<TControl*> Controls;  // every control, in the order they were added
  };

  void Initialize() override;
  // The dpi SetDisplayDpi gave (none, so 96, unless a test sets one).
  int DisplayDpi() override { return mDisplayDpi; }
  std::unique_ptr<FormWindow> CreateFormWindow(TForm& form) override;
  void RunLoop() override;
  void QuitLoop() override;
  void ShowException(const Exception& error) override;
  void WakeMainThread() override;
  int StartTimer(unsigned intervalMs, std::function<void()> tick) override;
  void StopTimer(int id) override;

  // The display's dpi as the next form to open will be told; main thread.
  void SetDisplayDpi(int dpi) { mDisplayDpi = dpi; }
  // Queues a task for the loop; safe from any thread.
  void Post(std::function<void()> task);

  // What was recorded; read on the main thread after Run.
  int InitializeCount() const { return mInitializeCount; }
  // How often another thread asked the main thread to serve Synchronize calls.
  int WakeCount() const { return mWakeCount.load(); }
  const std::vector<std::u16string>& ShownErrors() const { return mShownErrors; }
  const std::vector<WindowRecord>& Windows() const { return mWindows; }

 private:
  class Window;
  void FireDueTimer();

  int mInitializeCount = 0;
  int mDisplayDpi = 0;
  std::atomic<int> mWakeCount{0};
  std::vector<std::u16string> mShownErrors;
  std::vector<WindowRecord> mWindows;

  std::mutex mMutex;
  std::condition_variable mWake;
  std::deque<std::function<void()>> mTasks;
  bool mQuit = false;

  struct Timer {
    std::chrono::milliseconds Interval;
    std::chrono::steady_clock::time_point Due;
    std::function<void()> Tick;
  };
  std::map<int, Timer> mTimers;  // main thread only
  int mNextTimerId = 1;
};

}  // namespace framework
