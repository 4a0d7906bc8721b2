// The trace unit under several threads at once.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "diag/debug_console.h"
#include "diag/debug_console_testing.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_console.h"

namespace {

constexpr int kThreads = 8;

// How many different threads have paused on the clock.
std::size_t SleeperCount(FakeClock& clock) {
  std::set<std::thread::id> sleepers;
  for (const FakeClock::Pause& pause : clock.Sleeps()) sleepers.insert(pause.Thread);
  return sleepers.size();
}

// Releases all threads at the same moment.
class StartLine {
 public:
  void Wait() {
    mArrived.fetch_add(1);
    while (mArrived.load() < kThreads) std::this_thread::yield();
  }

 private:
  std::atomic<int> mArrived{0};
};

TEST(DebugConsoleConcurrency, EightThreadsTracingAtStartMakeOneInstanceAndOneConsole) {
  for (int round = 0; round < 50; ++round) {
    FakeConsole console;
    diag_testing::ScopedConsoleServices scope(console);
    FakeClock clock;
    platform::ScopedClockForTesting clockScope(clock);
    console.PressRightShift();  // every thread finds the key down and waits
    StartLine start;
    std::vector<TDebugConsole*> seen(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&, i] {
        start.Wait();
        TDebugConsole* instance = GetDebugConsole();
        instance->WriteLine(u"line " + std::u16string(1, char16_t(u'0' + i)));
        seen[i] = instance;
      });
    }
    // Release the key only once every thread is waiting for it.
    while (SleeperCount(clock) < kThreads) std::this_thread::yield();
    EXPECT_EQ(diag_testing::CurrentInstance(), nullptr) << "nothing happens while the key is held";
    console.ReleaseRightShift();
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(std::set<TDebugConsole*>(seen.begin(), seen.end()).size(), 1u);
    EXPECT_EQ(console.Allocations(), 1);
    EXPECT_EQ(console.OutputQueries(), 1);
    const std::vector<std::string> writes = console.Writes();
    EXPECT_EQ(writes.size(), static_cast<std::size_t>(kThreads)) << "every line written whole";
    for (const std::string& line : writes) EXPECT_EQ(line.size(), 7u) << line;
  }
}

TEST(DebugConsoleConcurrency, ClosedStartWithConcurrentEnable) {
  for (int round = 0; round < 50; ++round) {
    FakeConsole console;
    diag_testing::ScopedConsoleServices scope(console);
    StartLine start;
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&, i] {
        start.Wait();
        if (i % 2 == 0) {
          DebugConsoleInstance(true);
        } else {
          GetDebugConsole()->WriteLine(u"maybe");
        }
      });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(console.Allocations(), 1);
    EXPECT_TRUE(diag_testing::CurrentInstance()->Enabled());
  }
}

}  // namespace
