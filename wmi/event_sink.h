// EventSink: the COM object that receives the events of one notification
// query and passes each event object to its subscription's callback.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/wmi_types.h"
#include "wmi/wmi_event_types.h"

// Made on the heap with a count of 0, no callback and no user data; frees
// itself when Release brings its count to 0. Its five COM operations may be
// called on any thread, also several at once. Nobody deletes it through an
// interface pointer, so the interfaces need no virtual destructor.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class EventSink final : public IWbemObjectSink {
 public:
  EventSink() = default;
  EventSink(const EventSink&) = delete;
  EventSink& operator=(const EventSink&) = delete;

  // IUnknown and IWbemObjectSink, in their slot order.
  // IID_IUnknown and IID_IWbemObjectSink give the sink itself with one more
  // reference; any other id gives E_NOINTERFACE and stores nothing.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
  // The new count.
  ULONG STDMETHODCALLTYPE AddRef() override;
  // The remaining count; at 0 the sink forgets its callback and user data and
  // frees itself.
  ULONG STDMETHODCALLTYPE Release() override;
  // Writes the delivery's trace lines and passes each object, in array order,
  // to the callback with the user data, both read afresh for every object.
  // Always WBEM_S_NO_ERROR.
  HRESULT STDMETHODCALLTYPE Indicate(LONG lObjectCount, IWbemClassObject** apObjArray) override;
  // Looks at nothing; WBEM_S_NO_ERROR.
  HRESULT STDMETHODCALLTYPE SetStatus(LONG lFlags, HRESULT hResult, BSTR strParam,
                                      IWbemClassObject* pObjParam) override;

  // Made by the engine while it subscribes, on the subscribing thread.
  void SetEventType(WMIEventType eventType) { mEventType = eventType; }
  WMIEventType EventType() const { return mEventType; }
  // Install the user data first, then the callback: a delivery that sees the
  // callback also sees its user data. Ignored once the sink is detached.
  void SetUserData(void* userData);
  void SetCallback(WMIEventCallback callback);

  // Ends the sink's deliveries for good: forgets the callback and user data,
  // and waits until no callback of this sink is running on another thread.
  // A callback running further up the calling thread's own stack is not
  // waited for. After it returns no callback of this sink starts again,
  // whatever the platform still delivers. Any thread; the engine calls it
  // before it cancels the query.
  void Detach();

  // The current count, for tests.
  LONG RefCountForTesting() const { return mRefCount.load(); }

 private:
  ~EventSink() = default;  // only Release frees the sink

  // The callback and user data to call for one object, with this thread
  // recorded as running a callback; false when there is none.
  bool BeginCallback(WMIEventCallback& callback, void*& userData);
  void EndCallback();

  std::atomic<LONG> mRefCount{0};
  WMIEventType mEventType = ProcessStartTrace;

  // Guards the members below.
  std::mutex mGuard;
  void* mUserData = nullptr;
  WMIEventCallback mCallback = nullptr;
  bool mDetached = false;
  // One entry per callback running now, with its thread.
  std::vector<std::thread::id> mRunning;
  std::condition_variable mCallbackEnded;
};
#pragma GCC diagnostic pop
