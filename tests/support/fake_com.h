// Counted COM initialisation calls; put in place for its lifetime.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/com.h"

class FakeCom final : public platform::ComServices {
 public:
  platform::HResult CoInitializeEx(std::uint32_t flags) override {
    Add("CoInitializeEx " + std::to_string(flags));
    return platform::kSOk;
  }
  platform::HResult CoInitialize() override {
    Add("CoInitialize");
    return platform::kSOk;
  }
  void CoUninitialize() override { Add("CoUninitialize"); }

  struct Call {
    std::string Name;
    std::thread::id Thread;
  };
  std::vector<Call> Calls() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mCalls;
  }
  // The names of the calls made on one thread, in order.
  std::vector<std::string> CallsOn(std::thread::id thread) {
    std::vector<std::string> out;
    for (const Call& c : Calls())
      if (c.Thread == thread) out.push_back(c.Name);
    return out;
  }

 private:
  void Add(std::string name) {
    std::lock_guard<std::mutex> lock(mMutex);
    mCalls.push_back({std::move(name), std::this_thread::get_id()});
  }
  std::mutex mMutex;
  std::vector<Call> mCalls;
  platform::ScopedComForTesting mScope{*this};
};
