// The engine's teardown against deliveries on other threads, on the scripted
// service that enforces COM's threading rules: once the destructor has
// returned no callback runs or starts, whatever the cancel returned; a
// delivery on the tearing-down thread itself does not deadlock it; the
// destruction's uninitialisations stay on the destroying thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/fake_wmi.h"
#include "wmi/wmi_engine.h"

namespace {

using namespace std::chrono_literals;

IWbemClassObject* FakeObject() {
  static char place;
  return reinterpret_cast<IWbemClassObject*>(&place);
}

// What the callbacks see; shared with the test's threads.
struct Watch {
  std::atomic<int> Calls{0};
  std::atomic<bool> Destroyed{false};     // set as soon as the destructor has returned
  std::atomic<int> CallsAfterDestruction{0};
  NvkWMIEngine* EngineToDestroy = nullptr;  // destroyed by the first callback, when set
  std::atomic<bool> Entered{false};
  std::atomic<bool> TeardownStarted{false};
  std::atomic<bool> Ended{false};
};

void Count(IWbemClassObject*, void* userData) {
  auto* watch = static_cast<Watch*>(userData);
  if (watch->Destroyed.load()) ++watch->CallsAfterDestruction;
  ++watch->Calls;
  std::this_thread::yield();
  if (watch->Destroyed.load()) ++watch->CallsAfterDestruction;  // still running after the destructor returned
}

// Holds its delivery until the teardown has begun, and a while longer.
void Linger(IWbemClassObject*, void* userData) {
  auto* watch = static_cast<Watch*>(userData);
  watch->Entered = true;
  while (!watch->TeardownStarted.load()) std::this_thread::yield();
  std::this_thread::sleep_for(200ms);
  watch->Ended = true;
}

void DestroyEngine(IWbemClassObject*, void* userData) {
  auto* watch = static_cast<Watch*>(userData);
  ++watch->Calls;
  delete std::exchange(watch->EngineToDestroy, nullptr);
}

class WmiTeardownTest : public ::testing::Test {
 protected:
  // A connected engine with both subscriptions, made on this thread.
  NvkWMIEngine* Subscribed(Watch& watch, WMIEventCallback callback) {
    auto* engine = new NvkWMIEngine();
    EXPECT_TRUE(engine->Connect());
    EXPECT_TRUE(engine->Subscribe("SELECT * FROM Win32_ProcessStartTrace", ProcessStartTrace, &watch, callback));
    EXPECT_TRUE(engine->Subscribe("SELECT * FROM Win32_ProcessStopTrace", ProcessStopTrace, &watch, callback));
    return engine;
  }

  FakeWmi mWmi;
};

TEST_F(WmiTeardownTest, OnTheWorkerAfterItsUninitialiseTheCancelFailsAndNoCallbackOutlivesTheDestruction) {
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    FakeWmi wmi;
    Watch watch;
    NvkWMIEngine* engine = Subscribed(watch, &Count);
    std::atomic<bool> stop{false};
    std::thread deliverer([&] {
      while (!stop.load()) wmi.Deliver({FakeObject(), FakeObject()});
    });
    std::thread::id workerId;
    std::thread worker([&] {
      workerId = std::this_thread::get_id();
      // The worker's own COM, released before the tracker's teardown.
      wmi.CoInitializeEx(platform::kCoinitApartmentThreaded | platform::kCoinitDisableOle1Dde);
      wmi.CoUninitialize();
      while (watch.Calls.load() < 10) std::this_thread::yield();
      delete engine;
      watch.Destroyed = true;
    });
    worker.join();
    const int callsAtDestruction = watch.Calls.load();
    // The service goes on delivering to both queries.
    for (int i = 0; i < 50; ++i) EXPECT_EQ(wmi.Deliver({FakeObject()}), 2);
    stop = true;
    deliverer.join();

    EXPECT_EQ(watch.CallsAfterDestruction.load(), 0);
    EXPECT_EQ(watch.Calls.load(), callsAtDestruction);
    EXPECT_EQ(wmi.Refusals(), (std::vector<std::string>{"CancelAsyncCall: CO_E_NOTINITIALIZED",
                                                        "CancelAsyncCall: CO_E_NOTINITIALIZED"}));
    EXPECT_EQ(wmi.RunningQueries(), 2u);
    const std::vector<std::string> workerCalls = wmi.LogOn(workerId);
    ASSERT_GE(workerCalls.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(workerCalls.end() - 2, workerCalls.end()),
              (std::vector<std::string>{"CoUninitialize", "CoUninitialize"}));
    for (const std::string& call : wmi.LogOn(std::this_thread::get_id()))
      EXPECT_NE(call, "CoUninitialize") << "the connecting thread's initialisation is left alone";
    EXPECT_EQ(wmi.InitCount(std::this_thread::get_id()), 1);
  }
}

TEST_F(WmiTeardownTest, TheDestructionWaitsForACallbackInProgressOnAnotherThread) {
  Watch watch;
  NvkWMIEngine* engine = Subscribed(watch, &Linger);
  std::thread deliverer([&] { mWmi.Deliver({FakeObject()}); });
  while (!watch.Entered.load()) std::this_thread::yield();
  watch.TeardownStarted = true;
  delete engine;
  EXPECT_TRUE(watch.Ended.load()) << "the destructor returned while a callback was still running";
  deliverer.join();
}

TEST_F(WmiTeardownTest, ADeliveryOnTheTearingDownThreadDuringTheCancelNeitherDeadlocksNorReachesTheCallback) {
  Watch watch;
  NvkWMIEngine* engine = Subscribed(watch, &Count);
  int deliveredDuringCancel = 0;
  mWmi.DuringCancel = [&] { deliveredDuringCancel += mWmi.Deliver({FakeObject()}); };
  delete engine;
  EXPECT_GT(deliveredDuringCancel, 0);
  EXPECT_EQ(watch.Calls.load(), 0);
  EXPECT_TRUE(mWmi.Refusals().empty()) << "on the connecting thread the cancel goes through";
  EXPECT_EQ(mWmi.RunningQueries(), 0u);
}

TEST_F(WmiTeardownTest, DestroyingTheEngineFromInsideItsOwnCallbackDoesNotDeadlock) {
  Watch watch;
  watch.EngineToDestroy = Subscribed(watch, &DestroyEngine);
  std::thread deliverer([&] {
    for (int i = 0; i < 5; ++i) mWmi.Deliver({FakeObject(), FakeObject()});
  });
  deliverer.join();
  EXPECT_EQ(watch.EngineToDestroy, nullptr);
  EXPECT_EQ(watch.Calls.load(), 1) << "after its destruction the engine's callbacks are never called";
}

}  // namespace
