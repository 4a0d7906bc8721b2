// A clock that moves only when told or when someone sleeps on it; put in place for its lifetime.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"

class FakeClock final : public platform::Clock {
 public:
  // Called at each reading with the count so far. Set before the worker starts.
  std::function<void(long)> OnNow;

  // Calendar seconds: the start, plus what was advanced, plus whole seconds slept.
  std::int64_t Now() override {
    const long reads = ++mReads;
    if (OnNow) OnNow(reads);
    return kStart + mSeconds.load() + mSleptMs.load() / 1000;
  }
  // Milliseconds: the start, plus what was advanced, plus what was slept.
  std::uint64_t TickMs() override {
    return static_cast<std::uint64_t>(kStartTick + mSeconds.load() * 1000 + mAdvancedMs.load() + mSleptMs.load());
  }
  // Records the pause and lets the time pass at once.
  void Sleep(std::uint32_t milliseconds) override {
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mSleeps.push_back({milliseconds, std::this_thread::get_id()});
    }
    mSleptMs.fetch_add(milliseconds);
    std::this_thread::yield();
  }

  void Advance(std::int64_t seconds) { mSeconds.fetch_add(seconds); }
  // Moves the millisecond count only; calendar time stays.
  void AdvanceMs(std::int64_t milliseconds) { mAdvancedMs.fetch_add(milliseconds); }

  struct Pause {
    std::uint32_t Milliseconds;
    std::thread::id Thread;
  };
  std::vector<Pause> Sleeps() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mSleeps;
  }
  std::vector<std::uint32_t> SleepsOn(std::thread::id thread) {
    std::vector<std::uint32_t> out;
    for (const Pause& p : Sleeps())
      if (p.Thread == thread) out.push_back(p.Milliseconds);
    return out;
  }

  static constexpr std::int64_t kStart = 1'700'000'000;
  static constexpr std::int64_t kStartTick = 5'000'000;

 private:
  std::atomic<long> mReads{0};
  std::atomic<std::int64_t> mSeconds{0};
  std::atomic<std::int64_t> mSleptMs{0};
  std::atomic<std::int64_t> mAdvancedMs{0};
  std::mutex mMutex;
  std::vector<Pause> mSleeps;
  platform::ScopedClockForTesting mScope{*this};
};
