// NvkWMIEngine: connecting to the management service, starting notification
// queries with a sink each, and ending them.
#include "wmi/wmi_engine.h"

#include <new>
#include <string>

#include "platform/com.h"
#include "platform/text.h"

namespace {

using platform::CurrentCom;

// Releases what the record holds, in the order apartment, stub, sink, stub's
// sink interface, skipping what it does not hold.
void ReleaseEventObj(const NvkWMIEventObj& obj) {
  if (obj.Apartment != nullptr) obj.Apartment->Release();
  if (obj.Stub != nullptr) obj.Stub->Release();
  if (obj.Sink != nullptr) obj.Sink->Release();
  if (obj.StubSink != nullptr) obj.StubSink->Release();
}

}  // namespace

NvkWMIEngine::NvkWMIEngine() = default;

NvkWMIEngine::~NvkWMIEngine() {
  CancelAll();
  ReleaseConnection();
  CurrentCom().CoUninitialize();
  CurrentCom().CoUninitialize();
}

bool NvkWMIEngine::Connect() {
  platform::ComServices& com = CurrentCom();

  // 1. COM on this thread, in the single-threaded apartment.
  const HRESULT init = com.CoInitializeEx(platform::kCoinitApartmentThreaded);
  if (init == platform::kSOk) {
    // first initialisation of the thread
  } else if (init == platform::kSFalse) {
    com.CoUninitialize();
    if (mLocator != nullptr && mServices != nullptr) return true;
  } else if (init == platform::kRpcEChangedMode) {
    com.CoUninitialize();
    com.CoUninitialize();
    com.CoInitializeEx(platform::kCoinitApartmentThreaded);
  } else {
    return false;
  }

  // 2. The process's security; set earlier is as good.
  const HRESULT security = com.CoInitializeSecurity(nullptr, -1, nullptr, nullptr, platform::kRpcCAuthnLevelDefault,
                                                    platform::kRpcCImpLevelImpersonate, nullptr, platform::kEoacNone,
                                                    nullptr);
  if (platform::Failed(security) && security != platform::kRpcETooLate) {
    com.CoUninitialize();
    return false;
  }

  // 3. The locator.
  mLocator = nullptr;
  void* locator = nullptr;
  if (platform::Failed(com.CoCreateInstance(platform::kClsidWbemAdministrativeLocator, nullptr,
                                            platform::kClsctxInprocServer | platform::kClsctxLocalServer,
                                            platform::kIidIWbemLocator, &locator))) {
    com.CoUninitialize();
    return false;
  }
  mLocator = static_cast<IWbemLocator*>(locator);

  // 4. The namespace.
  mServices = nullptr;
  platform::ScopedBstr nameSpace(u"ROOT\\CIMV2");
  if (platform::Failed(
          mLocator->ConnectServer(nameSpace.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &mServices))) {
    mServices = nullptr;
    mLocator->Release();
    mLocator = nullptr;
    com.CoUninitialize();
    return false;
  }

  // 5. The security of calls through the services.
  if (platform::Failed(com.CoSetProxyBlanket(mServices, platform::kRpcCAuthnWinnt, platform::kRpcCAuthzNone, nullptr,
                                             platform::kRpcCAuthnLevelCall, platform::kRpcCImpLevelImpersonate,
                                             nullptr, platform::kEoacNone))) {
    ReleaseConnection();
    com.CoUninitialize();
    return false;
  }
  return true;
}

bool NvkWMIEngine::Subscribe(const char* query, WMIEventType eventType, void* userData, WMIEventCallback callback) {
  if (mServices == nullptr || query == nullptr) return false;  // not connected
  platform::ComServices& com = CurrentCom();
  NvkWMIEventObj obj;
  // Steps 1, 3 and 4 may fail: at the first failure ReleaseEventObj releases
  // what was obtained so far (apartment, stub, sink, stub's sink), no record
  // is stored, no callback is installed, and the result is false.

  // 1. The unsecured apartment.
  void* apartment = nullptr;
  if (platform::Failed(com.CoCreateInstance(platform::kClsidUnsecuredApartment, nullptr, platform::kClsctxLocalServer,
                                            platform::kIidIUnsecuredApartment, &apartment))) {
    return false;
  }
  obj.Apartment = static_cast<IUnsecuredApartment*>(apartment);

  // 2. The sink, with the record's reference.
  obj.Sink = new (std::nothrow) EventSink();
  if (obj.Sink == nullptr) {
    ReleaseEventObj(obj);
    return false;
  }
  obj.Sink->SetEventType(eventType);
  obj.Sink->AddRef();

  // 3. The object stub through which the service calls the sink.
  if (platform::Failed(obj.Apartment->CreateObjectStub(obj.Sink, &obj.Stub))) {
    obj.Stub = nullptr;
    ReleaseEventObj(obj);
    return false;
  }
  void* stubSink = nullptr;
  if (platform::Failed(obj.Stub->QueryInterface(platform::kIidIWbemObjectSink, &stubSink))) {
    ReleaseEventObj(obj);
    return false;
  }
  obj.StubSink = static_cast<IWbemObjectSink*>(stubSink);

  // 4. The query, with the stub's sink as its handler.
  {
    platform::ScopedBstr language(u"WQL");
    platform::ScopedBstr wideQuery(platform::AnsiToWide(query));
    if (platform::Failed(mServices->ExecNotificationQueryAsync(language.Get(), wideQuery.Get(),
                                                               platform::kWbemFlagSendStatus, nullptr, obj.StubSink))) {
      ReleaseEventObj(obj);
      return false;
    }
  }

  // 5. On success, the user data before the callback.
  if (callback != nullptr) {
    obj.Sink->SetUserData(userData);
    obj.Sink->SetCallback(callback);
  }
  // 6. The record, kept until CancelAll.
  mEventObjs.push_back(obj);
  return true;
}

void NvkWMIEngine::CancelAll() {
  // First every sink forgets its callback and waits for the callbacks still
  // running on other threads: from here on no callback runs, whatever the
  // cancels below achieve (from another apartment they fail, and the platform
  // does not wait for deliveries in progress).
  for (const NvkWMIEventObj& obj : mEventObjs) obj.Sink->Detach();
  for (const NvkWMIEventObj& obj : mEventObjs) {
    mServices->CancelAsyncCall(obj.StubSink);
    ReleaseEventObj(obj);
  }
  mEventObjs.clear();
}

void NvkWMIEngine::ReleaseConnection() {
  if (mServices != nullptr) {
    mServices->Release();
    mServices = nullptr;
  }
  if (mLocator != nullptr) {
    mLocator->Release();
    mLocator = nullptr;
  }
}
