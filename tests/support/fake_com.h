// Counted COM initialisation calls; put in place for its lifetime. The
// management calls fail.
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
  HRESULT CoInitializeEx(std::uint32_t flags) override {
    Add("CoInitializeEx " + std::to_string(flags));
    return platform::kSOk;
  }
  HRESULT CoInitialize() override {
    Add("CoInitialize");
    return platform::kSOk;
  }
  void CoUninitialize() override { Add("CoUninitialize"); }
  // The management calls are not this fake's business: they fail.
  HRESULT CoInitializeSecurity(void*, LONG, void*, void*, DWORD, DWORD, void*, DWORD, void*) override {
    Add("CoInitializeSecurity");
    return platform::kEFail;
  }
  HRESULT CoCreateInstance(REFCLSID, IUnknown*, DWORD, REFIID, void** object) override {
    Add("CoCreateInstance");
    *object = nullptr;
    return platform::kRegdbEClassNotReg;
  }
  HRESULT CoSetProxyBlanket(IUnknown*, DWORD, DWORD, OLECHAR*, DWORD, DWORD, void*, DWORD) override {
    Add("CoSetProxyBlanket");
    return platform::kEFail;
  }

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
