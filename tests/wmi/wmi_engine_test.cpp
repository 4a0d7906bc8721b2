// The engine on a scripted COM and management service: Connect's branches,
// Subscribe's failure points and release order, deliveries to the callback,
// cancellation order and the destruction's calls.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/fake_wmi.h"
#include "wmi/wmi_engine.h"

namespace {

using Log = std::vector<std::string>;

const char kStartQuery[] = "SELECT * FROM Win32_ProcessStartTrace";
const char kStopQuery[] = "SELECT * FROM Win32_ProcessStopTrace";

// The calls of Connect after its first step, all succeeding.
const Log kConnectSteps = {
    "CoInitializeSecurity 0 -1 0 0 0 3 0 0 0",
    "CoCreateInstance locator 0 5",
    "ConnectServer ROOT\\CIMV2 0 0 0 0 0 0",
    "CoSetProxyBlanket services1 10 0 0 3 3 0 0",
};

Log Join(Log a, const Log& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

IWbemClassObject* FakeObject(int n) {
  static char places[8];
  return reinterpret_cast<IWbemClassObject*>(&places[n]);
}

struct Delivery {
  IWbemClassObject* Object;
  void* UserData;
};
std::vector<Delivery>* gDeliveries = nullptr;
void Record(IWbemClassObject* object, void* userData) { gDeliveries->push_back({object, userData}); }

class WmiEngineTest : public ::testing::Test {
 protected:
  WmiEngineTest() { gDeliveries = &mDeliveries; }
  ~WmiEngineTest() override { gDeliveries = nullptr; }

  // A connected engine; the log is cleared of the connection's calls.
  std::unique_ptr<NvkWMIEngine> Connected() {
    auto engine = std::make_unique<NvkWMIEngine>();
    EXPECT_TRUE(engine->Connect());
    mMark = mWmi.Log().size();
    return engine;
  }
  Log Since() { return mWmi.LogFrom(mMark); }
  void Mark() { mMark = mWmi.Log().size(); }

  FakeWmi mWmi;
  std::vector<Delivery> mDeliveries;
  std::size_t mMark = 0;
};

TEST_F(WmiEngineTest, ConstructionTouchesNothing) {
  { NvkWMIEngine engine; EXPECT_TRUE(mWmi.Log().empty()); }
  EXPECT_EQ(mWmi.Log(), (Log{"CoUninitialize", "CoUninitialize"})) << "only the destruction's two";
}

TEST_F(WmiEngineTest, ConnectBranchesOnTheFirstInitialisation) {
  constexpr int kNone = -1;
  const struct {
    const char* Name;
    int EarlierInit;  // the thread's own initialisation before Connect, its flags
    std::vector<HRESULT> Init;  // scripted results, else as Windows answers
    bool Result;
    Log Calls;
  } cases[] = {
      {"S_OK", kNone, {}, true, Join({"CoInitializeEx 2"}, kConnectSteps)},
      {"S_FALSE", 2, {}, true, Join({"CoInitializeEx 2", "CoUninitialize"}, kConnectSteps)},
      {"RPC_E_CHANGED_MODE", 0, {}, true,
       Join({"CoInitializeEx 2", "CoUninitialize", "CoUninitialize", "CoInitializeEx 2"}, kConnectSteps)},
      {"E_OUTOFMEMORY", kNone, {platform::kEOutOfMemory}, false, {"CoInitializeEx 2"}},
      {"E_INVALIDARG", kNone, {platform::kEInvalidArg}, false, {"CoInitializeEx 2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeWmi wmi;
    if (c.EarlierInit != kNone) wmi.CoInitializeEx(static_cast<std::uint32_t>(c.EarlierInit));
    const std::size_t mark = wmi.Log().size();
    wmi.InitResults.assign(c.Init.begin(), c.Init.end());
    {
      NvkWMIEngine engine;
      EXPECT_EQ(engine.Connect(), c.Result);
      EXPECT_EQ(wmi.LogFrom(mark), c.Calls);
    }
    EXPECT_EQ(wmi.LiveObjects(), 0);
  }
}

TEST_F(WmiEngineTest, ConnectOnAConnectedEngineUndoesItsInitialisationAndCallsNothingElse) {
  auto engine = Connected();
  EXPECT_TRUE(engine->Connect());
  EXPECT_EQ(Since(), (Log{"CoInitializeEx 2", "CoUninitialize"}));
  EXPECT_EQ(mWmi.InitCount(std::this_thread::get_id()), 1) << "the first connection's initialisation stays";
}

TEST_F(WmiEngineTest, SecurityAlreadySetDoesNotStopTheConnection) {
  mWmi.SecurityResult = platform::kRpcETooLate;
  NvkWMIEngine engine;
  EXPECT_TRUE(engine.Connect());
  EXPECT_EQ(mWmi.Log(), Join({"CoInitializeEx 2"}, kConnectSteps));
}

TEST_F(WmiEngineTest, AFailingStepReleasesWhatWasObtainedAndUninitialisesOnce) {
  const struct {
    const char* Name;
    HRESULT FakeWmi::*Result;
    Log Calls;
  } cases[] = {
      {"security", &FakeWmi::SecurityResult, {"CoInitializeEx 2", kConnectSteps[0], "CoUninitialize"}},
      {"locator", &FakeWmi::LocatorResult, {"CoInitializeEx 2", kConnectSteps[0], kConnectSteps[1], "CoUninitialize"}},
      {"namespace",
       &FakeWmi::ConnectResult,
       {"CoInitializeEx 2", kConnectSteps[0], kConnectSteps[1], kConnectSteps[2], "Release locator1",
        "CoUninitialize"}},
      {"proxy blanket",
       &FakeWmi::BlanketResult,
       Join(Join({"CoInitializeEx 2"}, kConnectSteps), {"Release services1", "Release locator1", "CoUninitialize"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeWmi wmi;
    wmi.*c.Result = platform::kWbemEFailed;
    {
      NvkWMIEngine engine;
      EXPECT_FALSE(engine.Connect());
      EXPECT_EQ(wmi.Log(), c.Calls);
      EXPECT_EQ(wmi.LiveObjects(), 0) << "nothing is held";
    }
    EXPECT_EQ(wmi.LogFrom(c.Calls.size()), (Log{"CoUninitialize", "CoUninitialize"}))
        << "the destruction releases nothing a second time";
  }
}

TEST_F(WmiEngineTest, SubscribeStartsTheQueryWithItsOwnStubSinkAndCallsBackWithTheUserData) {
  auto engine = Connected();
  int tracker = 0;
  ASSERT_TRUE(engine->Subscribe(kStartQuery, ProcessStartTrace, &tracker, &Record));
  EXPECT_EQ(Since(), (Log{"CoCreateInstance apartment 0 4", "CreateObjectStub apartment1 [sink 1]",
                          "QueryInterface stub1 IWbemObjectSink",
                          "ExecNotificationQueryAsync WQL SELECT * FROM Win32_ProcessStartTrace 128 0 stubsink1"}));
  ASSERT_EQ(engine->EventObjsForTesting().size(), 1u);
  const NvkWMIEventObj& obj = engine->EventObjsForTesting()[0];
  EXPECT_NE(obj.Apartment, nullptr);
  EXPECT_NE(obj.Stub, nullptr);
  EXPECT_NE(obj.StubSink, nullptr);
  ASSERT_NE(obj.Sink, nullptr);
  EXPECT_EQ(obj.Sink->EventType(), ProcessStartTrace);

  EXPECT_EQ(mWmi.Deliver({FakeObject(0), FakeObject(1)}), 1);
  ASSERT_EQ(mDeliveries.size(), 2u);
  EXPECT_EQ(mDeliveries[0].Object, FakeObject(0));
  EXPECT_EQ(mDeliveries[1].Object, FakeObject(1));
  EXPECT_EQ(mDeliveries[0].UserData, &tracker);
  EXPECT_EQ(mDeliveries[1].UserData, &tracker);
}

TEST_F(WmiEngineTest, SubscribeWithoutCallbackDeliversNothing) {
  auto engine = Connected();
  int tracker = 0;
  ASSERT_TRUE(engine->Subscribe(kStopQuery, ProcessStopTrace, &tracker, nullptr));
  EXPECT_EQ(engine->EventObjsForTesting()[0].Sink->EventType(), ProcessStopTrace);
  EXPECT_EQ(mWmi.Deliver({FakeObject(0)}), 1);
  EXPECT_TRUE(mDeliveries.empty());
}

TEST_F(WmiEngineTest, ASubscriptionThatFailsReleasesWhatItObtainedInOrderAndKeepsNothing) {
  const struct {
    const char* Name;
    HRESULT FakeWmi::*Result;
    Log Calls;
  } cases[] = {
      {"apartment", &FakeWmi::ApartmentResult, {"CoCreateInstance apartment 0 4"}},
      {"stub",
       &FakeWmi::StubResult,
       {"CoCreateInstance apartment 0 4", "CreateObjectStub apartment1 [sink 1]", "Release apartment1"}},
      // The stub holds the sink: at its release the record's reference is still there (2).
      {"stub's sink interface",
       &FakeWmi::StubQueryResult,
       {"CoCreateInstance apartment 0 4", "CreateObjectStub apartment1 [sink 1]",
        "QueryInterface stub1 IWbemObjectSink", "Release apartment1", "Release stub1 [sink 2]"}},
      // The stub and its sink interface hold one each: the record's goes
      // after the stub's (3) and before the sink interface's (1).
      {"query",
       &FakeWmi::QueryResult,
       {"CoCreateInstance apartment 0 4", "CreateObjectStub apartment1 [sink 1]",
        "QueryInterface stub1 IWbemObjectSink",
        "ExecNotificationQueryAsync WQL SELECT * FROM Win32_ProcessStartTrace 128 0 stubsink1", "Release apartment1",
        "Release stub1 [sink 3]", "Release stubsink1 [sink 1]"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeWmi wmi;
    NvkWMIEngine engine;
    ASSERT_TRUE(engine.Connect());
    const std::size_t mark = wmi.Log().size();
    const int connectionObjects = wmi.LiveObjects();
    wmi.*c.Result = platform::kWbemEFailed;
    int tracker = 0;
    EXPECT_FALSE(engine.Subscribe(kStartQuery, ProcessStartTrace, &tracker, &Record));
    EXPECT_EQ(wmi.LogFrom(mark), c.Calls);
    EXPECT_TRUE(engine.EventObjsForTesting().empty());
    EXPECT_EQ(wmi.LiveObjects(), connectionObjects);
    EXPECT_EQ(wmi.RunningQueries(), 0u);
  }
}

TEST_F(WmiEngineTest, SubscribeBeforeConnectFailsWithoutCalls) {
  NvkWMIEngine engine;
  EXPECT_FALSE(engine.Subscribe(kStartQuery, ProcessStartTrace, nullptr, &Record));
  EXPECT_TRUE(mWmi.Log().empty());
}

TEST_F(WmiEngineTest, DestructionCancelsEverySubscriptionInOrderThenReleasesTheConnection) {
  auto engine = Connected();
  int tracker = 0;
  ASSERT_TRUE(engine->Subscribe(kStartQuery, ProcessStartTrace, &tracker, &Record));
  ASSERT_TRUE(engine->Subscribe(kStopQuery, ProcessStopTrace, &tracker, &Record));
  EXPECT_EQ(engine->EventObjsForTesting()[0].Sink->EventType(), ProcessStartTrace);
  EXPECT_EQ(engine->EventObjsForTesting()[1].Sink->EventType(), ProcessStopTrace);
  Mark();
  engine.reset();
  // The service drops its hold on the query's handler when it is cancelled.
  // Each stub and stub sink holds the sink: 3 references before the record's
  // goes, 1 after; the sink interface releases the last.
  EXPECT_EQ(Since(), (Log{"CancelAsyncCall stubsink1", "Service release stubsink1 [sink 3]", "Release apartment1",
                          "Release stub1 [sink 3]", "Release stubsink1 [sink 1]", "CancelAsyncCall stubsink2",
                          "Service release stubsink2 [sink 3]", "Release apartment2", "Release stub2 [sink 3]",
                          "Release stubsink2 [sink 1]", "Release services1",
                          "Release locator1", "CoUninitialize", "CoUninitialize"}));
  EXPECT_EQ(mWmi.LiveObjects(), 0);
  EXPECT_EQ(mWmi.RunningQueries(), 0u);
  EXPECT_TRUE(mWmi.Refusals().empty());
}

TEST_F(WmiEngineTest, DestructionWithoutSubscriptionsMakesNoCancelAndUninitialisesTwice) {
  auto engine = Connected();
  engine.reset();
  EXPECT_EQ(Since(), (Log{"Release services1", "Release locator1", "CoUninitialize", "CoUninitialize"}));
  EXPECT_EQ(mWmi.LiveObjects(), 0);
}

TEST_F(WmiEngineTest, AFailedCancelChangesNothingInTheTearDownAndNothingIsDeliveredAfterIt) {
  auto engine = Connected();
  int tracker = 0;
  ASSERT_TRUE(engine->Subscribe(kStartQuery, ProcessStartTrace, &tracker, &Record));
  mWmi.CancelResult = platform::kWbemEFailed;
  Mark();
  engine.reset();
  EXPECT_EQ(Since(), (Log{"CancelAsyncCall stubsink1", "Release apartment1", "Release stub1 [sink 3]",
                          "Release stubsink1 [sink 1]", "Release services1", "Release locator1", "CoUninitialize",
                          "CoUninitialize"}));
  EXPECT_EQ(mWmi.RunningQueries(), 1u) << "the service goes on delivering";
  EXPECT_EQ(mWmi.Deliver({FakeObject(0)}), 1);
  EXPECT_TRUE(mDeliveries.empty()) << "a delivery after the destruction reaches no callback";
}

}  // namespace
