// The headless backend used by tests.
#include "framework/headless/headless_backend.h"

#include <algorithm>

#include "framework/threads.h"

namespace framework {

class HeadlessBackend::Window final : public FormWindow {
 public:
  Window(HeadlessBackend& owner, std::size_t index) : mOwner(owner), mIndex(index) {}
  void SetVisible(bool visible) override {
    WindowRecord& record = mOwner.mWindows[mIndex];
    record.Visible = visible;
    if (visible) ++record.ShowCount;
  }
  void AddButton(TButton& button) override {
    mOwner.mWindows[mIndex].Buttons.push_back(&button);
    Record(button);
  }
  void AddPanel(TPanel& panel) override { Record(panel); }
  void AddImage(TImage& image) override { Record(image); }
  // Labels keep their stored size: there is no font to measure with.
  void AddLabel(THTMLabel& label) override { Record(label); }
  void AddCheckBox(THTMLCheckBox& checkBox) override { Record(checkBox); }

 private:
  void Record(TControl& control) { mOwner.mWindows[mIndex].Controls.push_back(&control); }

  HeadlessBackend& mOwner;
  std::size_t mIndex;
};

void HeadlessBackend::Initialize() { ++mInitializeCount; }

std::unique_ptr<FormWindow> HeadlessBackend::CreateFormWindow(TForm& form) {
  WindowRecord record;
  record.Properties = form.Properties();
  mWindows.push_back(record);
  return std::make_unique<Window>(*this, mWindows.size() - 1);
}

void HeadlessBackend::RunLoop() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(mMutex);
      const auto ready = [this] { return mQuit || !mTasks.empty(); };
      if (mTimers.empty()) {
        mWake.wait(lock, ready);
      } else {
        auto due = mTimers.begin()->second.Due;
        for (const auto& [id, timer] : mTimers) due = std::min(due, timer.Due);
        mWake.wait_until(lock, due, ready);
      }
      if (mQuit) {
        mQuit = false;
        return;
      }
      if (!mTasks.empty()) {
        task = std::move(mTasks.front());
        mTasks.pop_front();
      }
    }
    if (task) {
      Application->DeliverEvent(task);
    } else {
      FireDueTimer();
    }
  }
}

void HeadlessBackend::FireDueTimer() {
  const auto now = std::chrono::steady_clock::now();
  for (auto& [id, timer] : mTimers) {
    if (timer.Due > now) continue;
    timer.Due = now + timer.Interval;
    const std::function<void()> tick = timer.Tick;  // the tick may stop this timer
    tick();
    return;
  }
}

void HeadlessBackend::WakeMainThread() {
  ++mWakeCount;
  Post([] { CheckSynchronize(); });
}

int HeadlessBackend::StartTimer(unsigned intervalMs, std::function<void()> tick) {
  const int id = mNextTimerId++;
  const std::chrono::milliseconds interval(intervalMs);
  mTimers[id] = Timer{interval, std::chrono::steady_clock::now() + interval, std::move(tick)};
  return id;
}

void HeadlessBackend::StopTimer(int id) { mTimers.erase(id); }

void HeadlessBackend::QuitLoop() {
  std::lock_guard<std::mutex> lock(mMutex);
  mQuit = true;
  mWake.notify_all();
}

void HeadlessBackend::ShowException(const Exception& error) { mShownErrors.push_back(error.Message()); }

void HeadlessBackend::Post(std::function<void()> task) {
  std::lock_guard<std::mutex> lock(mMutex);
  mTasks.push_back(std::move(task));
  mWake.notify_all();
}

}  // namespace framework
