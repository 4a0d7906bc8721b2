// A scripted console and key state for the trace unit's tests.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/console.h"

class FakeConsole final : public platform::ConsoleServices {
 public:
  // The right Shift key reads down for the next `count` queries, then up.
  void HoldRightShiftFor(int count) { mDownQueries.store(count); }
  // The key stays down until released.
  void PressRightShift() { mHeld.store(true); }
  void ReleaseRightShift() { mHeld.store(false); }
  void SetOutputMissing(bool missing) { mOutputMissing = missing; }

  bool IsRightShiftDown() override {
    ++mKeyQueries;
    if (mHeld.load()) return true;
    int left = mDownQueries.load();
    while (left > 0) {
      if (mDownQueries.compare_exchange_weak(left, left - 1)) return true;
    }
    return false;
  }
  void AllocConsole() override { ++mAllocations; }
  platform::ConsoleHandle GetStdOutput() override {
    ++mOutputQueries;
    return mOutputMissing ? nullptr : &mHandle;
  }
  void WriteBytes(platform::ConsoleHandle output, const char* bytes, std::size_t count) override {
    std::lock_guard<std::mutex> lock(mMutex);
    mWrites.emplace_back(bytes, count);
    mWrittenTo.push_back(output);
  }

  int Allocations() const { return mAllocations.load(); }
  int OutputQueries() const { return mOutputQueries.load(); }
  int KeyQueries() const { return mKeyQueries.load(); }
  std::vector<std::string> Writes() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mWrites;
  }
  bool AllWritesWentToOutput() {
    std::lock_guard<std::mutex> lock(mMutex);
    for (platform::ConsoleHandle h : mWrittenTo)
      if (h != &mHandle) return false;
    return true;
  }

 private:
  int mHandle = 0;
  std::atomic<bool> mHeld{false};
  std::atomic<int> mDownQueries{0};
  std::atomic<int> mKeyQueries{0};
  std::atomic<int> mAllocations{0};
  std::atomic<int> mOutputQueries{0};
  std::atomic<bool> mOutputMissing{false};
  std::mutex mMutex;
  std::vector<std::string> mWrites;
  std::vector<platform::ConsoleHandle> mWrittenTo;
};
