// The headless backend used by tests.
#include "framework/headless/headless_backend.h"

namespace framework {

class HeadlessBackend::Window final : public FormWindow {
 public:
  Window(HeadlessBackend& owner, std::size_t index) : mOwner(owner), mIndex(index) {}
  void SetVisible(bool visible) override {
    WindowRecord& record = mOwner.mWindows[mIndex];
    record.Visible = visible;
    if (visible) ++record.ShowCount;
  }

 private:
  HeadlessBackend& mOwner;
  std::size_t mIndex;
};

void HeadlessBackend::Initialize() { ++mInitializeCount; }

std::unique_ptr<FormWindow> HeadlessBackend::CreateFormWindow(TForm& form) {
  mWindows.push_back(WindowRecord{form.Properties(), false, 0});
  return std::make_unique<Window>(*this, mWindows.size() - 1);
}

void HeadlessBackend::RunLoop() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(mMutex);
      mWake.wait(lock, [this] { return mQuit || !mTasks.empty(); });
      if (mQuit) {
        mQuit = false;
        return;
      }
      task = std::move(mTasks.front());
      mTasks.pop_front();
    }
    Application->DeliverEvent(task);
  }
}

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
