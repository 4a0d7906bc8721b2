// The engine's teardown on the real Linux platform while process events keep
// arriving: once the destructor has returned, no callback runs or starts,
// whether the engine is destroyed on the connecting thread or on another one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "tests/wmi/linux_child.h"
#include "wmi/wmi_engine.h"

namespace {

struct Watch {
  std::atomic<int> Calls{0};
  std::atomic<bool> Destroyed{false};
  std::atomic<int> CallsAfterDestruction{0};
};

void Count(IWbemClassObject*, void* userData) {
  auto* watch = static_cast<Watch*>(userData);
  if (watch->Destroyed.load()) ++watch->CallsAfterDestruction;
  ++watch->Calls;
  std::this_thread::yield();
  if (watch->Destroyed.load()) ++watch->CallsAfterDestruction;
}

TEST(WmiEngineRaceOnLinux, NoCallbackOutlivesTheDestructionWhileEventsKeepComing) {
  std::atomic<bool> stop{false};
  std::thread spawner([&] {
    while (!stop.load()) {
      const pid_t child = wmi_test::Spawn({"/bin/true"});
      if (child > 0) wmi_test::Reap(child);
    }
  });
  // Every round's watch lives to the end: a late callback finds it intact.
  std::vector<std::unique_ptr<Watch>> watches;
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    watches.push_back(std::make_unique<Watch>());
    Watch& watch = *watches.back();
    auto* engine = new NvkWMIEngine();
    ASSERT_TRUE(engine->Connect());
    ASSERT_TRUE(engine->Subscribe("SELECT * FROM Win32_ProcessStartTrace", ProcessStartTrace, &watch, &Count));
    ASSERT_TRUE(engine->Subscribe("SELECT * FROM Win32_ProcessStopTrace", ProcessStopTrace, &watch, &Count));
    const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (watch.Calls.load() < 20 && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
    ASSERT_GE(watch.Calls.load(), 20) << "events arrive";
    if (round % 2 == 0) {
      delete engine;
    } else {
      std::thread([engine] { delete engine; }).join();  // as the worker tears down the tracker
    }
    watch.Destroyed = true;
  }
  // Events go on for a while after the last destruction.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  stop = true;
  spawner.join();
  for (const auto& watch : watches) EXPECT_EQ(watch->CallsAfterDestruction.load(), 0);
}

}  // namespace
