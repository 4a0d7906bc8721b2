// EventSink: reference counting, interface queries and the delivery of event
// objects to the subscription's callback.
#include "wmi/event_sink.h"

#include <algorithm>
#include <string>

#include "common/decimal.h"
#include "diag/debug_console.h"
#include "platform/com.h"

HRESULT STDMETHODCALLTYPE EventSink::QueryInterface(REFIID riid, void** ppvObject) {
  if (platform::SameGuid(riid, platform::kIidIUnknown) || platform::SameGuid(riid, platform::kIidIWbemObjectSink)) {
    *ppvObject = static_cast<IWbemObjectSink*>(this);
    AddRef();
    return platform::kSOk;
  }
  return platform::kENoInterface;
}

ULONG STDMETHODCALLTYPE EventSink::AddRef() { return static_cast<ULONG>(++mRefCount); }

ULONG STDMETHODCALLTYPE EventSink::Release() {
  const LONG left = --mRefCount;
  if (left != 0) return static_cast<ULONG>(left);
  {
    std::lock_guard<std::mutex> lock(mGuard);
    mUserData = nullptr;
    mCallback = nullptr;
  }
  delete this;
  return 0;
}

HRESULT STDMETHODCALLTYPE EventSink::Indicate(LONG lObjectCount, IWbemClassObject** apObjArray) {
  GetDebugConsole()->WriteLine(u"=====Enter Indicate Event=====");
  GetDebugConsole()->WriteLine(u"lObjectCount = " + common::IntToStr(lObjectCount));
  for (LONG i = 0; i < lObjectCount; ++i) {
    WMIEventCallback callback = nullptr;
    void* userData = nullptr;
    if (!BeginCallback(callback, userData)) continue;
    callback(apObjArray[i], userData);
    EndCallback();
  }
  GetDebugConsole()->WriteLine(u"=====Leave Indicate Event=====");
  return platform::kWbemSNoError;
}

HRESULT STDMETHODCALLTYPE EventSink::SetStatus(LONG, HRESULT, BSTR, IWbemClassObject*) {
  return platform::kWbemSNoError;
}

void EventSink::SetUserData(void* userData) {
  std::lock_guard<std::mutex> lock(mGuard);
  if (!mDetached) mUserData = userData;
}

void EventSink::SetCallback(WMIEventCallback callback) {
  std::lock_guard<std::mutex> lock(mGuard);
  if (!mDetached) mCallback = callback;
}

void EventSink::Detach() {
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(mGuard);
  mDetached = true;
  mCallback = nullptr;
  mUserData = nullptr;
  // A callback of this thread's own (the detach runs inside it, or an
  // apartment delivered a call while this thread waited) would never end.
  mCallbackEnded.wait(lock, [&] {
    return std::all_of(mRunning.begin(), mRunning.end(), [&](std::thread::id t) { return t == self; });
  });
}

bool EventSink::BeginCallback(WMIEventCallback& callback, void*& userData) {
  std::lock_guard<std::mutex> lock(mGuard);
  if (mCallback == nullptr) return false;
  callback = mCallback;
  userData = mUserData;
  mRunning.push_back(std::this_thread::get_id());
  return true;
}

void EventSink::EndCallback() {
  {
    std::lock_guard<std::mutex> lock(mGuard);
    mRunning.erase(std::find(mRunning.begin(), mRunning.end(), std::this_thread::get_id()));
  }
  mCallbackEnded.notify_all();
}
