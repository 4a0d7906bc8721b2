// A scripted COM and management service for the engine's tests: every call's
// result can be set, every call is logged with its thread, and COM's threading
// rules are enforced as Windows does: a call on a thread without COM fails
// with CO_E_NOTINITIALIZED, a call through an object from another apartment
// (another thread: every thread here is its own single-threaded apartment)
// fails with RPC_E_WRONG_THREAD. Put in place for its lifetime. Implements the
// interfaces as the Linux build declares them.
#pragma once

#include <cstdint>
#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/com.h"

class FakeWmi final : public platform::ComServices {
 public:
  FakeWmi() = default;
  ~FakeWmi() override {
    for (IWbemObjectSink* handler : TakeHandlers()) ServiceRelease(handler);
  }
  FakeWmi(const FakeWmi&) = delete;
  FakeWmi& operator=(const FakeWmi&) = delete;

  // Results, set before the calls are made. CoInitializeEx takes its results
  // from the queue while it holds any, else answers as Windows would.
  std::deque<HRESULT> InitResults;
  HRESULT SecurityResult = platform::kSOk;
  HRESULT LocatorResult = platform::kSOk;
  HRESULT ConnectResult = platform::kSOk;
  HRESULT BlanketResult = platform::kSOk;
  HRESULT ApartmentResult = platform::kSOk;
  HRESULT StubResult = platform::kSOk;
  HRESULT StubQueryResult = platform::kSOk;
  HRESULT QueryResult = platform::kSOk;
  HRESULT CancelResult = platform::kSOk;  // when the threading rules let the cancel through
  // Runs on the cancelling thread inside CancelAsyncCall, before its result:
  // an apartment delivers incoming calls while its thread waits for an outgoing one.
  std::function<void()> DuringCancel;

  struct Call {
    std::string Text;
    std::thread::id Thread;
  };
  std::vector<Call> Calls() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mCalls;
  }
  // The texts of every call, in order.
  std::vector<std::string> Log() {
    std::vector<std::string> out;
    for (const Call& c : Calls()) out.push_back(c.Text);
    return out;
  }
  // The texts from the n-th call on.
  std::vector<std::string> LogFrom(std::size_t n) {
    std::vector<std::string> all = Log();
    return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(std::min(n, all.size())), all.end());
  }
  std::vector<std::string> LogOn(std::thread::id thread) {
    std::vector<std::string> out;
    for (const Call& c : Calls())
      if (c.Thread == thread) out.push_back(c.Text);
    return out;
  }
  // Calls refused by the threading rules, as "call: reason".
  std::vector<std::string> Refusals() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mRefusals;
  }
  // Objects of the fake service not yet freed.
  int LiveObjects() const { return mLive.load(); }
  // The COM initialisations the thread holds.
  int InitCount(std::thread::id thread) {
    std::lock_guard<std::mutex> lock(mMutex);
    return mThreads[thread].Count;
  }
  // Queries the service still runs (accepted and not cancelled).
  std::size_t RunningQueries() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mHandlers.size();
  }
  // Delivers the objects to every running query on the calling thread, as
  // the service does whatever happened to its client. Returns how many
  // queries it reached.
  int Deliver(std::vector<IWbemClassObject*> objects) {
    std::vector<IWbemObjectSink*> handlers;
    {
      std::lock_guard<std::mutex> lock(mMutex);
      handlers = mHandlers;
      for (IWbemObjectSink* h : handlers) h->AddRef();
    }
    for (IWbemObjectSink* h : handlers) {
      h->Indicate(static_cast<LONG>(objects.size()), objects.data());
      ServiceRelease(h);
    }
    return static_cast<int>(handlers.size());
  }

  // ComServices.
  HRESULT CoInitializeEx(std::uint32_t flags) override {
    Add("CoInitializeEx " + std::to_string(flags));
    std::lock_guard<std::mutex> lock(mMutex);
    ThreadState& state = mThreads[std::this_thread::get_id()];
    const std::uint32_t model = flags & platform::kCoinitApartmentThreaded;
    HRESULT result;
    if (!InitResults.empty()) {
      result = InitResults.front();
      InitResults.pop_front();
    } else if (state.Count > 0 && state.Model != model) {
      result = platform::kRpcEChangedMode;
    } else {
      result = state.Count > 0 ? platform::kSFalse : platform::kSOk;
    }
    if (result == platform::kSOk || result == platform::kSFalse) {
      if (state.Count++ == 0) state.Model = model;
    }
    return result;
  }
  HRESULT CoInitialize() override { return CoInitializeEx(platform::kCoinitApartmentThreaded); }
  void CoUninitialize() override {
    Add("CoUninitialize");
    std::lock_guard<std::mutex> lock(mMutex);
    ThreadState& state = mThreads[std::this_thread::get_id()];
    if (state.Count > 0) --state.Count;
  }
  HRESULT CoInitializeSecurity(void* securityDescriptor, LONG authServiceCount, void* authServices, void* reserved1,
                               DWORD authnLevel, DWORD impLevel, void* authList, DWORD capabilities,
                               void* reserved3) override {
    Add("CoInitializeSecurity " + Null(securityDescriptor) + " " + std::to_string(authServiceCount) + " " +
        Null(authServices) + " " + Null(reserved1) + " " + std::to_string(authnLevel) + " " +
        std::to_string(impLevel) + " " + Null(authList) + " " + std::to_string(capabilities) + " " +
        Null(reserved3));
    if (!HasCom()) return Refuse("CoInitializeSecurity", platform::kCoENotInitialized);
    return SecurityResult;
  }
  HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object) override {
    const bool locator = platform::SameGuid(clsid, platform::kClsidWbemAdministrativeLocator) &&
                         platform::SameGuid(iid, platform::kIidIWbemLocator);
    const bool apartment = platform::SameGuid(clsid, platform::kClsidUnsecuredApartment) &&
                           platform::SameGuid(iid, platform::kIidIUnsecuredApartment);
    Add(std::string("CoCreateInstance ") + (locator ? "locator" : apartment ? "apartment" : "unknown") + " " +
        Null(outer) + " " + std::to_string(context));
    *object = nullptr;
    if (!HasCom()) return Refuse("CoCreateInstance", platform::kCoENotInitialized);
    if (locator) {
      if (platform::Failed(LocatorResult)) return LocatorResult;
      *object = static_cast<IWbemLocator*>(new Locator(*this));
      return platform::kSOk;
    }
    if (apartment) {
      if (platform::Failed(ApartmentResult)) return ApartmentResult;
      *object = static_cast<IUnsecuredApartment*>(new Apartment(*this));
      return platform::kSOk;
    }
    return platform::kRegdbEClassNotReg;
  }
  HRESULT CoSetProxyBlanket(IUnknown* proxy, DWORD authnService, DWORD authzService, OLECHAR* serverPrincipalName,
                            DWORD authnLevel, DWORD impLevel, void* authInfo, DWORD capabilities) override {
    Add("CoSetProxyBlanket " + NameOf(proxy) + " " + std::to_string(authnService) + " " +
        std::to_string(authzService) + " " + Null(serverPrincipalName) + " " + std::to_string(authnLevel) + " " +
        std::to_string(impLevel) + " " + Null(authInfo) + " " + std::to_string(capabilities));
    if (!HasCom()) return Refuse("CoSetProxyBlanket", platform::kCoENotInitialized);
    return BlanketResult;
  }

 private:
  // The service's own releases log as "Service release NAME".
  static inline thread_local bool tServiceSide = false;
  static void ServiceRelease(IUnknown* object) {
    tServiceSide = true;
    object->Release();
    tServiceSide = false;
  }

  struct ThreadState {
    int Count = 0;
    std::uint32_t Model = 0;
  };

  // An object of the service: reference counted, named ("locator1",
  // "stub2", ...), bound to the apartment (thread) that obtained it. AddRef
  // and Release are the proxy's own and work on any thread, as on Windows.
  template <class Interface>
  class Object : public Interface {
   public:
    Object(FakeWmi& fake, const std::string& kind) : mFake(fake), mName(fake.NewName(kind, this)) { ++mFake.mLive; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppvObject) override {
      *ppvObject = nullptr;
      return platform::kENoInterface;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++mRefCount; }
    ULONG STDMETHODCALLTYPE Release() override {
      mFake.Add((tServiceSide ? "Service release " : "Release ") + mName + Released());
      const ULONG left = --mRefCount;
      if (left == 0) delete this;
      return left;
    }
    const std::string& Name() const { return mName; }

   protected:
    virtual ~Object() {
      mFake.ForgetName(this);
      --mFake.mLive;
    }
    // What else a Release logs.
    virtual std::string Released() { return ""; }
    // The threading rules for a call through this object: S_OK when allowed.
    HRESULT Check(const std::string& call) {
      if (!mFake.HasCom()) return mFake.Refuse(call, platform::kCoENotInitialized);
      if (std::this_thread::get_id() != mHome) return mFake.Refuse(call, platform::kRpcEWrongThread);
      return platform::kSOk;
    }
    FakeWmi& mFake;

   private:
    std::string mName;
    std::thread::id mHome = std::this_thread::get_id();
    std::atomic<ULONG> mRefCount{1};
  };

  class Services final : public Object<IWbemServices> {
   public:
    explicit Services(FakeWmi& fake) : Object(fake, "services") {}
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink* pSink) override {
      mFake.Add("CancelAsyncCall " + mFake.NameOf(pSink));
      if (mFake.DuringCancel) mFake.DuringCancel();
      if (HRESULT allowed = Check("CancelAsyncCall"); platform::Failed(allowed)) return allowed;
      if (platform::Failed(mFake.CancelResult)) return mFake.CancelResult;
      if (!mFake.DropHandler(pSink)) return platform::kWbemENotFound;
      ServiceRelease(pSink);
      return platform::kWbemSNoError;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR strQueryLanguage, const BSTR strQuery,
                                                         LONG lFlags, IWbemContext* pCtx,
                                                         IWbemObjectSink* pResponseHandler) override {
      mFake.Add("ExecNotificationQueryAsync " + Narrow(strQueryLanguage) + " " + Narrow(strQuery) + " " +
                std::to_string(lFlags) + " " + Null(pCtx) + " " + mFake.NameOf(pResponseHandler));
      if (HRESULT allowed = Check("ExecNotificationQueryAsync"); platform::Failed(allowed)) return allowed;
      if (platform::Failed(mFake.QueryResult)) return mFake.QueryResult;
      pResponseHandler->AddRef();
      std::lock_guard<std::mutex> lock(mFake.mMutex);
      mFake.mHandlers.push_back(pResponseHandler);
      return platform::kWbemSNoError;
    }
  };

  class Locator final : public Object<IWbemLocator> {
   public:
    explicit Locator(FakeWmi& fake) : Object(fake, "locator") {}
    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR strNetworkResource, const BSTR strUser, const BSTR strPassword,
                                            const BSTR strLocale, LONG lSecurityFlags, const BSTR strAuthority,
                                            IWbemContext* pCtx, IWbemServices** ppNamespace) override {
      mFake.Add("ConnectServer " + Narrow(strNetworkResource) + " " + Null(strUser) + " " + Null(strPassword) + " " +
                Null(strLocale) + " " + std::to_string(lSecurityFlags) + " " + Null(strAuthority) + " " + Null(pCtx));
      if (HRESULT allowed = Check("ConnectServer"); platform::Failed(allowed)) return allowed;
      if (platform::Failed(mFake.ConnectResult)) return mFake.ConnectResult;
      *ppNamespace = new Services(mFake);
      return platform::kWbemSNoError;
    }
  };

  // The stub's sink interface: forwards the service's calls to the sink and
  // holds a reference to it; its Release logs the sink's count.
  class StubSink final : public Object<IWbemObjectSink> {
   public:
    StubSink(FakeWmi& fake, IWbemObjectSink* sink) : Object(fake, "stubsink"), mSink(sink) { mSink->AddRef(); }
    HRESULT STDMETHODCALLTYPE Indicate(LONG lObjectCount, IWbemClassObject** apObjArray) override {
      return mSink->Indicate(lObjectCount, apObjArray);
    }
    HRESULT STDMETHODCALLTYPE SetStatus(LONG lFlags, HRESULT hResult, BSTR strParam,
                                        IWbemClassObject* pObjParam) override {
      return mSink->SetStatus(lFlags, hResult, strParam, pObjParam);
    }

   private:
    ~StubSink() override { mSink->Release(); }
    std::string Released() override { return SinkCount(mSink); }
    IWbemObjectSink* mSink;
  };

  // The object stub: holds a reference to the sink; gives its sink interface.
  class Stub final : public Object<IUnknown> {
   public:
    Stub(FakeWmi& fake, IWbemObjectSink* sink) : Object(fake, "stub"), mSink(sink) { mSink->AddRef(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
      *ppvObject = nullptr;
      mFake.Add("QueryInterface " + Name() + (platform::SameGuid(riid, platform::kIidIWbemObjectSink)
                                                  ? " IWbemObjectSink"
                                                  : " other"));
      if (HRESULT allowed = Check("QueryInterface"); platform::Failed(allowed)) return allowed;
      if (platform::Failed(mFake.StubQueryResult)) return mFake.StubQueryResult;
      *ppvObject = static_cast<IWbemObjectSink*>(new StubSink(mFake, mSink));
      return platform::kSOk;
    }

   private:
    ~Stub() override { mSink->Release(); }
    std::string Released() override { return SinkCount(mSink); }
    IWbemObjectSink* mSink;
  };

  class Apartment final : public Object<IUnsecuredApartment> {
   public:
    explicit Apartment(FakeWmi& fake) : Object(fake, "apartment") {}
    HRESULT STDMETHODCALLTYPE CreateObjectStub(IUnknown* pObject, IUnknown** ppStub) override {
      *ppStub = nullptr;
      void* sink = nullptr;
      pObject->QueryInterface(platform::kIidIWbemObjectSink, &sink);
      auto* asSink = static_cast<IWbemObjectSink*>(sink);
      mFake.Add("CreateObjectStub " + Name() + (asSink != nullptr ? SinkCount(asSink, 1) : " (not a sink)"));
      HRESULT result = Check("CreateObjectStub");
      if (!platform::Failed(result)) result = mFake.StubResult;
      if (!platform::Failed(result) && asSink != nullptr) *ppStub = new Stub(mFake, asSink);
      if (asSink != nullptr) asSink->Release();
      return result;
    }
  };

  // " [sink N]": the sink's count now, less `extra` references held for the question.
  static std::string SinkCount(IWbemObjectSink* sink, ULONG extra = 0) {
    sink->AddRef();
    const ULONG count = sink->Release();
    return " [sink " + std::to_string(count - extra) + "]";
  }
  static std::string Null(const void* p) { return p == nullptr ? "0" : "1"; }
  static std::string Narrow(const OLECHAR* text) {
    std::string out;
    for (char16_t c : platform::BstrText(text)) out.push_back(c < 128 ? static_cast<char>(c) : '?');
    return out;
  }

  std::string NewName(const std::string& kind, const void* object) {
    std::lock_guard<std::mutex> lock(mMutex);
    const std::string name = kind + std::to_string(++mNumbers[kind]);
    mNames[object] = name;
    return name;
  }
  void ForgetName(const void* object) {
    std::lock_guard<std::mutex> lock(mMutex);
    mNames.erase(object);
  }
  // The name of one of the service's objects as the interface pointer shows it.
  std::string NameOf(const void* object) {
    if (object == nullptr) return "null";
    std::lock_guard<std::mutex> lock(mMutex);
    for (const auto& [candidate, name] : mNames) {
      if (candidate == object) return name;
    }
    return "foreign";
  }
  bool HasCom() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mThreads[std::this_thread::get_id()].Count > 0;
  }
  HRESULT Refuse(const std::string& call, HRESULT reason) {
    std::lock_guard<std::mutex> lock(mMutex);
    mRefusals.push_back(call + (reason == platform::kCoENotInitialized ? ": CO_E_NOTINITIALIZED"
                                                                        : ": RPC_E_WRONG_THREAD"));
    return reason;
  }
  bool DropHandler(IWbemObjectSink* handler) {
    std::lock_guard<std::mutex> lock(mMutex);
    for (auto it = mHandlers.begin(); it != mHandlers.end(); ++it) {
      if (*it == handler) {
        mHandlers.erase(it);
        return true;
      }
    }
    return false;
  }
  std::vector<IWbemObjectSink*> TakeHandlers() {
    std::lock_guard<std::mutex> lock(mMutex);
    return std::exchange(mHandlers, {});
  }
  void Add(std::string text) {
    std::lock_guard<std::mutex> lock(mMutex);
    mCalls.push_back({std::move(text), std::this_thread::get_id()});
  }

  std::mutex mMutex;
  std::vector<Call> mCalls;
  std::vector<std::string> mRefusals;
  std::map<std::thread::id, ThreadState> mThreads;
  std::map<std::string, int> mNumbers;
  std::map<const void*, std::string> mNames;
  std::vector<IWbemObjectSink*> mHandlers;
  std::atomic<int> mLive{0};
  platform::ScopedComForTesting mScope{*this};
};
