// NvkWMIEngine: the connection to the management service and the
// asynchronous notification queries run on it, one event sink each.
#pragma once

#include <vector>

#include "platform/wmi_types.h"
#include "wmi/event_sink.h"
#include "wmi/wmi_event_types.h"

// One running subscription. Each pointer holds one reference that the record
// owns; copying takes none and destroying releases none: the engine releases
// them explicitly.
struct NvkWMIEventObj {
  IUnsecuredApartment* Apartment = nullptr;  // the unsecured apartment made for the subscription
  EventSink* Sink = nullptr;                 // the subscription's sink
  IUnknown* Stub = nullptr;                  // the object stub the apartment made for the sink
  IWbemObjectSink* StubSink = nullptr;       // the stub's sink interface: the query's handler
};

// Not copied. Construction, Connect and Subscribe run on one thread (the
// apartment the connection belongs to); the destruction may run on another
// thread. Deliveries reach the callbacks on the platform's threads from the
// acceptance of a query until the destruction; once the destructor has
// returned, no callback is running and none starts again.
class NvkWMIEngine {
 public:
  // Holds nothing; COM is not touched.
  NvkWMIEngine();
  // Cancels every subscription, releases the connection, uninitialises COM
  // twice on the destroying thread.
  ~NvkWMIEngine();
  NvkWMIEngine(const NvkWMIEngine&) = delete;
  NvkWMIEngine& operator=(const NvkWMIEngine&) = delete;

  // Initialises COM on the calling thread (apartment-threaded) and connects to
  // "ROOT\CIMV2". True when a locator and a services reference are held; on
  // false neither is held. The thread's initialisation stays in force.
  bool Connect();
  // Starts `query` (8-bit text) with a sink of its own; true when the service
  // accepted it. Then userData and, if not null, callback are installed and
  // events flow until the destruction. On false nothing is kept.
  bool Subscribe(const char* query, WMIEventType eventType, void* userData, WMIEventCallback callback);
  // Ends every subscription: detaches each sink, cancels its query and
  // releases its references, first to last; empties the records.
  void CancelAll();

  // The running subscriptions, in the order they were made, for tests.
  const std::vector<NvkWMIEventObj>& EventObjsForTesting() const { return mEventObjs; }

 private:
  void ReleaseConnection();

  IWbemLocator* mLocator = nullptr;
  IWbemServices* mServices = nullptr;
  std::vector<NvkWMIEventObj> mEventObjs;
};
