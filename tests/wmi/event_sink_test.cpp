// The event sink: reference counting, interface queries, deliveries with
// their trace lines, callbacks installed during a delivery, SetStatus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/debug_console.h"
#include "diag/debug_console_testing.h"
#include "platform/com.h"
#include "tests/support/fake_console.h"
#include "wmi/event_sink.h"

namespace {

// Stand-ins for delivered objects: the sink passes them on without looking.
IWbemClassObject* FakeObject(int n) {
  static char places[8];
  return reinterpret_cast<IWbemClassObject*>(&places[n]);
}

struct Received {
  std::vector<IWbemClassObject*> Objects;
  std::vector<void*> UserData;
};
Received* gReceived = nullptr;

void Record(IWbemClassObject* object, void* userData) {
  gReceived->Objects.push_back(object);
  gReceived->UserData.push_back(userData);
}

class EventSinkTest : public ::testing::Test {
 protected:
  EventSinkTest() {
    DebugConsoleInstance(true);
    gReceived = &mReceived;
    mSink->AddRef();  // the test's reference, as the engine's record holds one
  }
  ~EventSinkTest() override {
    if (mSink != nullptr) mSink->Release();
    gReceived = nullptr;
  }
  std::vector<std::string> Lines() { return mConsole.Writes(); }

  FakeConsole mConsole;
  diag_testing::ScopedConsoleServices mScope{mConsole};
  Received mReceived;
  EventSink* mSink = new EventSink();
};

TEST_F(EventSinkTest, CountsReferencesAndFreesItselfAtZero) {
  EXPECT_EQ(mSink->RefCountForTesting(), 1);
  EXPECT_EQ(mSink->AddRef(), 2u);
  EXPECT_EQ(mSink->AddRef(), 3u);
  EXPECT_EQ(mSink->Release(), 2u);
  EXPECT_EQ(mSink->Release(), 1u);
  EXPECT_EQ(mSink->Release(), 0u) << "the last release frees the sink (the sanitizer build sees a leak otherwise)";
  mSink = nullptr;
}

TEST_F(EventSinkTest, AnswersIUnknownAndIWbemObjectSinkOnly) {
  const struct {
    const IID* Id;
    HRESULT Result;
  } cases[] = {
      {&platform::kIidIUnknown, platform::kSOk},
      {&platform::kIidIWbemObjectSink, platform::kSOk},
      {&platform::kIidIWbemServices, platform::kENoInterface},
      {&platform::kIidIWbemClassObject, platform::kENoInterface},
      {&platform::kClsidUnsecuredApartment, platform::kENoInterface},
  };
  for (const auto& c : cases) {
    void* sentinel = &mReceived;
    void* out = sentinel;
    const LONG before = mSink->RefCountForTesting();
    EXPECT_EQ(mSink->QueryInterface(*c.Id, &out), c.Result);
    if (c.Result == platform::kSOk) {
      EXPECT_EQ(out, static_cast<IWbemObjectSink*>(mSink));
      EXPECT_EQ(mSink->RefCountForTesting(), before + 1);
      mSink->Release();
    } else {
      EXPECT_EQ(out, sentinel) << "nothing is stored for another id";
      EXPECT_EQ(mSink->RefCountForTesting(), before);
    }
  }
  // Every one of the 16 bytes counts.
  for (int byte = 0; byte < 16; ++byte) {
    IID almost = platform::kIidIWbemObjectSink;
    reinterpret_cast<unsigned char*>(&almost)[byte] ^= 0x01;
    void* out = nullptr;
    EXPECT_EQ(mSink->QueryInterface(almost, &out), platform::kENoInterface) << "byte " << byte;
  }
}

TEST_F(EventSinkTest, DeliveriesCallTheCallbackOncePerObjectInOrderAndTrace) {
  int userData = 0;
  mSink->SetUserData(&userData);
  mSink->SetCallback(&Record);
  IWbemClassObject* objects[3] = {FakeObject(0), FakeObject(1), FakeObject(2)};
  const struct {
    LONG Count;
    std::size_t Calls;
    const char* CountLine;
  } cases[] = {{0, 0, "lObjectCount = 0\n"}, {3, 3, "lObjectCount = 3\n"}, {-1, 0, "lObjectCount = -1\n"}};
  for (const auto& c : cases) {
    mReceived = {};
    const std::size_t linesBefore = Lines().size();
    EXPECT_EQ(mSink->Indicate(c.Count, objects), platform::kWbemSNoError);
    const std::vector<std::string> all = Lines();
    EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(linesBefore), all.end()),
              (std::vector<std::string>{"=====Enter Indicate Event=====\n", c.CountLine,
                                        "=====Leave Indicate Event=====\n"}));
    ASSERT_EQ(mReceived.Objects.size(), c.Calls) << c.Count;
    for (std::size_t i = 0; i < c.Calls; ++i) {
      EXPECT_EQ(mReceived.Objects[i], objects[i]);
      EXPECT_EQ(mReceived.UserData[i], &userData);
    }
  }
}

TEST_F(EventSinkTest, WithoutCallbackADeliveryTracesAndPassesNothingOn) {
  IWbemClassObject* objects[2] = {FakeObject(0), FakeObject(1)};
  EXPECT_EQ(mSink->Indicate(2, objects), platform::kWbemSNoError);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"=====Enter Indicate Event=====\n", "lObjectCount = 2\n",
                                               "=====Leave Indicate Event=====\n"}));
  EXPECT_TRUE(mReceived.Objects.empty());
}

// The first callback installs Record: the next objects go to it.
EventSink* gSinkToChange = nullptr;
int gFirstCalls = 0;
void InstallRecord(IWbemClassObject*, void*) {
  ++gFirstCalls;
  gSinkToChange->SetCallback(&Record);
}

TEST_F(EventSinkTest, ACallbackInstalledDuringADeliveryIsUsedFromTheNextObjectOn) {
  int userData = 0;
  gSinkToChange = mSink;
  gFirstCalls = 0;
  mSink->SetUserData(&userData);
  mSink->SetCallback(&InstallRecord);
  IWbemClassObject* objects[3] = {FakeObject(0), FakeObject(1), FakeObject(2)};
  mSink->Indicate(3, objects);
  EXPECT_EQ(gFirstCalls, 1);
  EXPECT_EQ(mReceived.Objects, (std::vector<IWbemClassObject*>{objects[1], objects[2]}));
  EXPECT_EQ(mReceived.UserData, (std::vector<void*>{&userData, &userData}));
}

TEST_F(EventSinkTest, SetStatusLooksAtNothingAndChangesNothing) {
  mSink->SetCallback(&Record);
  const LONG count = mSink->RefCountForTesting();
  EXPECT_EQ(mSink->SetStatus(0, platform::kSOk, nullptr, nullptr), platform::kWbemSNoError);
  EXPECT_EQ(mSink->SetStatus(2, platform::kWbemECallCancelled, nullptr, FakeObject(0)), platform::kWbemSNoError);
  platform::ScopedBstr text(u"status text");
  EXPECT_EQ(mSink->SetStatus(-1, platform::kEFail, text.Get(), FakeObject(1)), platform::kWbemSNoError);
  EXPECT_TRUE(Lines().empty());
  EXPECT_TRUE(mReceived.Objects.empty());
  EXPECT_EQ(mSink->RefCountForTesting(), count);
}

TEST_F(EventSinkTest, ADetachedSinkPassesNothingOnAndIgnoresNewCallbacks) {
  int userData = 0;
  mSink->SetUserData(&userData);
  mSink->SetCallback(&Record);
  mSink->Detach();
  mSink->SetUserData(&userData);
  mSink->SetCallback(&Record);
  IWbemClassObject* objects[1] = {FakeObject(0)};
  EXPECT_EQ(mSink->Indicate(1, objects), platform::kWbemSNoError);
  EXPECT_TRUE(mReceived.Objects.empty());
  EXPECT_EQ(Lines().size(), 3u) << "the delivery still writes its lines";
}

}  // namespace
