// The engine on the real Linux platform: the management-event stand-in
// delivers the start of a spawned child with its parent and its stop; the
// stand-in's classes, namespace, queries, event objects and variants.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/com.h"
#include "platform/posix/com/wmi_objects.h"
#include "platform/posix/events/process_events.h"
#include "platform/text.h"
#include "platform/variant.h"
#include "tests/wmi/linux_child.h"
#include "wmi/wmi_engine.h"

namespace {

using platform::CurrentCom;
using platform::CurrentVariants;

// A property read as the tracker reads it: Get, then conversion to VT_UINT.
bool ReadId(IWbemClassObject* object, const char16_t* name, std::uint32_t& id) {
  VARIANT value;
  CurrentVariants().VariantInit(&value);
  if (platform::Failed(object->Get(name, 0, &value, nullptr, nullptr))) return false;
  CurrentVariants().VariantChangeTypeEx(&value, &value, CurrentVariants().GetThreadLocale(), 0, platform::kVtUint);
  id = value.uintVal;
  CurrentVariants().VariantClear(&value);
  return true;
}

std::string ReadName(IWbemClassObject* object) {
  VARIANT value;
  CurrentVariants().VariantInit(&value);
  if (platform::Failed(object->Get(u"ProcessName", 0, &value, nullptr, nullptr))) return "?";
  std::string name = value.vt == platform::kVtBstr ? platform::WideToUtf8(platform::BstrText(value.bstrVal)) : "?";
  CurrentVariants().VariantClear(&value);
  return name;
}

struct Seen {
  std::uint32_t Id = 0;
  std::uint32_t Parent = 0;
  std::string Name;
};

class Events {
 public:
  static void Start(IWbemClassObject* object, void* self) { static_cast<Events*>(self)->Add(object, mStarts_); }
  static void Stop(IWbemClassObject* object, void* self) { static_cast<Events*>(self)->Add(object, mStops_); }

  // Waits (at most a generous minute) for an event of the process; true when seen.
  bool WaitForStart(std::uint32_t id, Seen& seen) { return WaitFor(mStarts_, id, seen); }
  bool WaitForStop(std::uint32_t id, Seen& seen) { return WaitFor(mStops_, id, seen); }

 private:
  static constexpr int mStarts_ = 0;
  static constexpr int mStops_ = 1;

  void Add(IWbemClassObject* object, int kind) {
    Seen seen;
    ReadId(object, u"ProcessId", seen.Id);
    ReadId(object, u"ParentProcessId", seen.Parent);
    seen.Name = ReadName(object);
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mSeen[kind].push_back(seen);
    }
    mChanged.notify_all();
  }
  bool WaitFor(int kind, std::uint32_t id, Seen& out) {
    std::unique_lock<std::mutex> lock(mMutex);
    return mChanged.wait_for(lock, std::chrono::minutes(1), [&] {
      for (const Seen& s : mSeen[kind]) {
        if (s.Id == id) {
          out = s;
          return true;
        }
      }
      return false;
    });
  }

  std::mutex mMutex;
  std::condition_variable mChanged;
  std::vector<Seen> mSeen[2];
};

TEST(WmiEngineOnLinux, ASubscriptionSeesTheStartOfAChildWithItsParentAndItsStop) {
  Events events;
  {
    NvkWMIEngine engine;
    ASSERT_TRUE(engine.Connect());
    ASSERT_TRUE(engine.Subscribe("SELECT * FROM Win32_ProcessStartTrace", ProcessStartTrace, &events, &Events::Start));
    ASSERT_TRUE(engine.Subscribe("SELECT * FROM Win32_ProcessStopTrace", ProcessStopTrace, &events, &Events::Stop));
    // It lives across two scans of the polling source as well.
    const pid_t child = wmi_test::Spawn({"/bin/sleep", "0.6"});
    ASSERT_GT(child, 0);
    Seen start;
    ASSERT_TRUE(events.WaitForStart(static_cast<std::uint32_t>(child), start));
    EXPECT_EQ(start.Parent, static_cast<std::uint32_t>(getpid()));
    wmi_test::Reap(child);
    Seen stop;
    ASSERT_TRUE(events.WaitForStop(static_cast<std::uint32_t>(child), stop));
    EXPECT_NE(start.Name, "?") << "the name is answered as a string";
    EXPECT_NE(stop.Name, "?");
  }
}

// Process events that a test hands out itself: it records the subscriptions
// and delivers what the test gives it.
class HandedEvents final : public platform::posix::ProcessEvents {
 public:
  std::uint64_t Subscribe(platform::posix::ProcessEventKind kind,
                          platform::posix::ProcessEventCallback callback) override {
    std::lock_guard<std::mutex> lock(mMutex);
    mCallbacks.push_back({++mLastId, kind, std::move(callback)});
    return mLastId;
  }
  void Unsubscribe(std::uint64_t id) override {
    std::lock_guard<std::mutex> lock(mMutex);
    mEnded.push_back(id);
    std::erase_if(mCallbacks, [id](const Entry& entry) { return entry.Id == id; });
  }
  platform::posix::ProcessEventOrigin Origin() const override { return platform::posix::ProcessEventOrigin::None; }
  void Report(std::vector<platform::posix::ProcessEvent>, std::function<void()> delivered) override {
    if (delivered) delivered();
  }
  void LeaveOutTree(std::uint32_t) override {}
  void EndLeaveOutTree(std::uint32_t) override {}

  // Calls every subscriber of the event's kind on the calling thread.
  void Hand(const platform::posix::ProcessEvent& event) {
    std::vector<platform::posix::ProcessEventCallback> targets;
    {
      std::lock_guard<std::mutex> lock(mMutex);
      for (const Entry& entry : mCallbacks) {
        if (entry.Kind == event.Kind) targets.push_back(entry.Callback);
      }
    }
    for (const auto& callback : targets) callback(event);
  }
  std::size_t Subscriptions() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mCallbacks.size();
  }
  std::vector<std::uint64_t> Ended() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mEnded;
  }

 private:
  struct Entry {
    std::uint64_t Id;
    platform::posix::ProcessEventKind Kind;
    platform::posix::ProcessEventCallback Callback;
  };
  std::mutex mMutex;
  std::uint64_t mLastId = 0;
  std::vector<Entry> mCallbacks;
  std::vector<std::uint64_t> mEnded;
};

TEST(WmiEngineOnLinux, QueriesTakeTheirEventsFromTheProcessEventsInPlaceForTheOverridesLifetime) {
  using platform::posix::CurrentProcessEvents;
  using platform::posix::SystemProcessEvents;
  HandedEvents handed;
  Events events;
  {
    platform::posix::ScopedProcessEventsForTesting scope(handed);
    EXPECT_EQ(&CurrentProcessEvents(), &handed);
    {
      NvkWMIEngine engine;
      ASSERT_TRUE(engine.Connect());
      ASSERT_TRUE(
          engine.Subscribe("SELECT * FROM Win32_ProcessStartTrace", ProcessStartTrace, &events, &Events::Start));
      ASSERT_TRUE(engine.Subscribe("SELECT * FROM Win32_ProcessStopTrace", ProcessStopTrace, &events, &Events::Stop));
      ASSERT_EQ(handed.Subscriptions(), 2u) << "both queries subscribed to the events in place";
      platform::posix::ProcessEvent event;
      event.Kind = platform::posix::ProcessEventKind::Start;
      event.ProcessId = 4321;
      event.ParentProcessId = 1234;
      event.ProcessName = "installer";
      handed.Hand(event);
      event.Kind = platform::posix::ProcessEventKind::Stop;
      handed.Hand(event);
      Seen seen;
      ASSERT_TRUE(events.WaitForStart(4321, seen));
      EXPECT_EQ(seen.Parent, 1234u);
      EXPECT_EQ(seen.Name, "installer");
      ASSERT_TRUE(events.WaitForStop(4321, seen));
    }
    EXPECT_EQ(handed.Subscriptions(), 0u) << "the engine's end ended both queries where they subscribed";
    EXPECT_EQ(handed.Ended().size(), 2u);
  }
  EXPECT_EQ(&CurrentProcessEvents(), &SystemProcessEvents()) << "the process-wide monitor is back";
}

TEST(WmiEngineOnLinux, OtherQueriesFailAndNoSubscriptionIsKept) {
  NvkWMIEngine engine;
  ASSERT_TRUE(engine.Connect());
  for (const char* query : {"SELECT * FROM Win32_ProcessTrace", "select * from win32_processstarttrace", ""}) {
    EXPECT_FALSE(engine.Subscribe(query, ProcessStartTrace, nullptr, nullptr)) << query;
  }
  EXPECT_TRUE(engine.EventObjsForTesting().empty());
}

// The stand-in's calls, on a thread of their own (its COM state starts afresh).
TEST(ManagementStandIn, AnswersAsTheManagementServiceDoes) {
  std::thread([] {
    platform::ComServices& com = platform::SystemCom();
    void* object = nullptr;
    EXPECT_EQ(com.CoCreateInstance(platform::kClsidWbemAdministrativeLocator, nullptr, 5, platform::kIidIWbemLocator,
                                   &object),
              platform::kCoENotInitialized);
    ASSERT_EQ(com.CoInitializeEx(platform::kCoinitApartmentThreaded), platform::kSOk);
    const HRESULT first = com.CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 0, 3, nullptr, 0, nullptr);
    EXPECT_TRUE(first == platform::kSOk || first == platform::kRpcETooLate);
    EXPECT_EQ(com.CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 0, 3, nullptr, 0, nullptr),
              platform::kRpcETooLate);
    EXPECT_EQ(com.CoCreateInstance(platform::kIidIWbemServices, nullptr, 5, platform::kIidIWbemLocator, &object),
              platform::kRegdbEClassNotReg);
    ASSERT_EQ(com.CoCreateInstance(platform::kClsidWbemAdministrativeLocator, nullptr, 5, platform::kIidIWbemLocator,
                                   &object),
              platform::kSOk);
    auto* locator = static_cast<IWbemLocator*>(object);
    IWbemServices* services = nullptr;
    platform::ScopedBstr other(u"ROOT\\DEFAULT");
    EXPECT_EQ(locator->ConnectServer(other.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services),
              platform::kWbemEInvalidNamespace);
    EXPECT_EQ(services, nullptr);
    platform::ScopedBstr cimv2(u"root\\cimv2");
    ASSERT_EQ(locator->ConnectServer(cimv2.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services),
              platform::kWbemSNoError);
    EXPECT_EQ(com.CoSetProxyBlanket(services, 10, 0, nullptr, 3, 3, nullptr, 0), platform::kSOk);
    platform::ScopedBstr wql(u"WQL");
    platform::ScopedBstr bad(u"SELECT * FROM Win32_Process");
    IWbemObjectSink* noSink = nullptr;
    EXPECT_EQ(services->ExecNotificationQueryAsync(wql.Get(), bad.Get(), 0x80, nullptr, noSink),
              platform::kWbemEInvalidParameter);
    EXPECT_EQ(services->CancelAsyncCall(nullptr), platform::kWbemEInvalidParameter);
    services->Release();
    locator->Release();
    com.CoUninitialize();
  }).join();
}

TEST(ManagementStandIn, EventObjectsAnswerTheProcessPropertiesAndConvertToUnsigned) {
  platform::posix::ProcessEvent event;
  event.ProcessId = 4321;
  event.ParentProcessId = 1234;
  event.ProcessName = "installer";
  IWbemClassObject* object = platform::posix::NewProcessEventObject(event);
  std::uint32_t id = 0;
  EXPECT_TRUE(ReadId(object, u"ProcessId", id));
  EXPECT_EQ(id, 4321u);
  EXPECT_TRUE(ReadId(object, u"ParentProcessId", id));
  EXPECT_EQ(id, 1234u);
  EXPECT_TRUE(ReadId(object, u"PROCESSID", id)) << "names ignore case";
  EXPECT_EQ(ReadName(object), "installer");
  VARIANT value;
  CurrentVariants().VariantInit(&value);
  EXPECT_EQ(object->Get(u"ExitStatus", 0, &value, nullptr, nullptr), platform::kWbemENotFound);
  object->Release();
}

}  // namespace
