// COM initialisation per thread: the same results from Windows and the Linux stand-in.
#include <gtest/gtest.h>

#include <thread>

#include "platform/com.h"

namespace {

using namespace platform;

TEST(ComInitialization, PerThreadCountsAndModel) {
  std::thread([] {
    EXPECT_EQ(ComInitializeEx(kCoinitApartmentThreaded | kCoinitDisableOle1Dde), kSOk);
    EXPECT_EQ(ComInitialize(), kSFalse) << "the same model again";
    EXPECT_EQ(ComInitializeEx(0 /* multithreaded */), kRpcEChangedMode);
    ComUninitialize();
    ComUninitialize();
    EXPECT_EQ(ComInitializeEx(0), kSOk) << "after the last uninitialise the model may change";
    ComUninitialize();
  }).join();
  // Another thread starts afresh.
  std::thread([] {
    EXPECT_EQ(ComInitializeEx(0), kSOk);
    ComUninitialize();
  }).join();
}

}  // namespace
