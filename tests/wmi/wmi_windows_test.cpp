// The engine on the real Windows platform (under Wine here): the connection
// succeeds; where the unsecured apartment is not registered, as under Wine,
// both subscriptions fail cleanly and the engine ends without hanging.
#include <gtest/gtest.h>

#include <thread>

#include "platform/com.h"
#include "wmi/wmi_engine.h"

namespace {

void NeverCalled(IWbemClassObject*, void* userData) { ++*static_cast<int*>(userData); }

TEST(WmiEngineOnWindows, ConnectsAndSubscriptionsFailCleanlyWithoutTheUnsecuredApartment) {
  int calls = 0;
  std::thread([&calls] {
    NvkWMIEngine engine;
    ASSERT_TRUE(engine.Connect());
    EXPECT_TRUE(engine.Connect()) << "already connected";
    void* apartment = nullptr;
    const HRESULT registered = platform::CurrentCom().CoCreateInstance(
        platform::kClsidUnsecuredApartment, nullptr, platform::kClsctxLocalServer, platform::kIidIUnsecuredApartment,
        &apartment);
    if (!platform::Failed(registered)) {
      static_cast<IUnknown*>(apartment)->Release();
      GTEST_SKIP() << "the unsecured apartment is registered here";
    }
    EXPECT_EQ(registered, platform::kRegdbEClassNotReg);
    EXPECT_FALSE(engine.Subscribe("SELECT * FROM Win32_ProcessStartTrace", ProcessStartTrace, &calls, &NeverCalled));
    EXPECT_FALSE(engine.Subscribe("SELECT * FROM Win32_ProcessStopTrace", ProcessStopTrace, &calls, &NeverCalled));
    EXPECT_TRUE(engine.EventObjsForTesting().empty());
  }).join();
  EXPECT_EQ(calls, 0);
}

}  // namespace
