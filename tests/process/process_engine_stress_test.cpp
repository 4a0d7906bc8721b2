// Several threads deliver process starts and stops to the tracker as fast as
// they can while the worker launches, runs the finished test, clears the sets
// and destroys the tracker. Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "diag/debug_console.h"
#include "diag/debug_console_testing.h"
#include "platform/com.h"
#include "process/process_engine.h"
#include "tests/support/fake_console.h"
#include "tests/support/fake_event_properties.h"
#include "tests/support/fake_processes.h"

namespace {

// Stands for the event engine's promise: once it is torn down, no delivery
// starts and none is still running. Deliveries pass through it.
class DeliveryGate {
 public:
  bool Enter() {
    std::lock_guard<std::mutex> lock(mMutex);
    if (mClosed) return false;
    ++mInside;
    return true;
  }
  void Leave() {
    std::lock_guard<std::mutex> lock(mMutex);
    if (--mInside == 0) mEmpty.notify_all();
  }
  void Close() {
    std::unique_lock<std::mutex> lock(mMutex);
    mClosed = true;
    mEmpty.wait(lock, [this] { return mInside == 0; });
  }

 private:
  std::mutex mMutex;
  std::condition_variable mEmpty;
  bool mClosed = false;
  int mInside = 0;
};

// COM whose uninitialisation, once armed, is the event engine's teardown:
// it closes the gate.
class GateCom final : public platform::ComServices {
 public:
  explicit GateCom(DeliveryGate& gate) : mGate(gate) {}
  std::atomic<bool> Armed{false};

  HRESULT CoInitializeEx(std::uint32_t) override { return platform::kSOk; }
  HRESULT CoInitialize() override { return platform::kSOk; }
  void CoUninitialize() override {
    if (Armed) mGate.Close();
  }
  HRESULT CoInitializeSecurity(void*, LONG, void*, void*, DWORD, DWORD, void*, DWORD, void*) override {
    return platform::kEFail;
  }
  HRESULT CoCreateInstance(REFCLSID, IUnknown*, DWORD, REFIID, void** object) override {
    *object = nullptr;
    return platform::kRegdbEClassNotReg;
  }
  HRESULT CoSetProxyBlanket(IUnknown*, DWORD, DWORD, OLECHAR*, DWORD, DWORD, void*, DWORD) override {
    return platform::kEFail;
  }

 private:
  DeliveryGate& mGate;
  platform::ScopedComForTesting mScope{*this};
};

bool IsSubset(const common::ProcessIdSet& part, const common::ProcessIdSet& whole) {
  for (std::int32_t id : part)
    if (whole.count(id) == 0) return false;
  return true;
}

TEST(ProcessEngineStress, DeliveriesRaceTheFinishedTestAndTheDestruction) {
  for (int round = 0; round < 5; ++round) {
    FakeConsole console;
    diag_testing::ScopedConsoleServices consoleScope(console);
    DebugConsoleInstance(true);
    FakeProcesses processes;
    processes.LaunchedId = 1;
    processes.OpenableId = [](platform::ProcessId id) { return id % 3 == 0; };
    processes.RunningId = [](platform::ProcessId id) { return id % 2 == 0; };
    DeliveryGate gate;
    GateCom com(gate);

    auto* tracker = new ProcessEngine();
    tracker->GetWMIEngine();
    std::atomic<bool> stop{false};
    std::atomic<long> delivered{0};
    std::vector<std::thread> deliverers;
    for (int t = 0; t < 4; ++t) {
      deliverers.emplace_back([&, t] {
        std::minstd_rand random(static_cast<unsigned>(round * 16 + t));
        while (!stop) {
          if (!gate.Enter()) {
            std::this_thread::yield();
            continue;
          }
          const std::uint32_t id = 1 + random() % 48;
          if (random() % 2 == 0) {
            FakeEventProperties event = StartEvent(1 + random() % 24, id);
            tracker->OnProcessStart(event);
          } else {
            FakeEventProperties event = StopEvent(id);
            tracker->OnProcessStop(event);
          }
          ++delivered;
          gate.Leave();
        }
      });
    }

    std::size_t linesAtEnd = 0;
    std::thread worker([&] {
      while (delivered.load() == 0) std::this_thread::yield();  // the race has begun
      ExeParameter request;
      request.FileName = u"setup.exe";
      // Starts arrive while the launch runs: remembered, then adopted when
      // the launch is recorded.
      processes.OnLaunch = [&delivered] {
        const long at = delivered.load();
        while (delivered.load() < at + 200) std::this_thread::yield();
      };
      EXPECT_TRUE(tracker->LaunchProcess(request));
      for (int pass = 0; pass < 200; ++pass) {
        tracker->IsProcessTreeFinished();
        const ProcessEngine::IdSets sets = tracker->SetsForTesting();
        EXPECT_TRUE(IsSubset(sets.DeletePIDSet, sets.PIDSet));
        EXPECT_TRUE(IsSubset(sets.LimitMonitorPID, sets.PIDSet));
        EXPECT_LE(sets.LimitMonitorPID.size(), 4u);
        for (std::int32_t id : sets.TmpDeletePIDSet) EXPECT_EQ(sets.PIDSet.count(id), 0u) << "stop kept aside for a member";
        if (pass == 100) tracker->ClearPIDSets();
      }
      tracker->ClearPIDSets();
      com.Armed = true;
      delete tracker;
      linesAtEnd = console.Writes().size();
    });
    worker.join();
    // Deliveries go on being attempted for a while: none reaches the tracker.
    const long attemptsAfter = delivered.load();
    for (int i = 0; i < 1000; ++i) std::this_thread::yield();
    stop = true;
    for (std::thread& t : deliverers) t.join();
    EXPECT_GT(attemptsAfter, 0);
    EXPECT_EQ(delivered.load(), attemptsAfter) << "a delivery passed after the teardown";
    EXPECT_EQ(console.Writes().size(), linesAtEnd) << "a handler wrote after the tracker was destroyed";
  }
}

}  // namespace
