// COM initialisation per thread: the same results from Windows and the Linux stand-in.
#include <gtest/gtest.h>

#include <thread>

#include "platform/com.h"

namespace {

using namespace platform;

TEST(ComInitialization, PerThreadCountsAndModel) {
  ComServices& com = SystemCom();
  std::thread([&com] {
    EXPECT_EQ(com.CoInitializeEx(kCoinitApartmentThreaded | kCoinitDisableOle1Dde), kSOk);
    EXPECT_EQ(com.CoInitialize(), kSFalse) << "the same model again";
    EXPECT_EQ(com.CoInitializeEx(0 /* multithreaded */), kRpcEChangedMode);
    com.CoUninitialize();
    com.CoUninitialize();
    EXPECT_EQ(com.CoInitializeEx(0), kSOk) << "after the last uninitialise the model may change";
    com.CoUninitialize();
  }).join();
  // Another thread starts afresh.
  std::thread([&com] {
    EXPECT_EQ(com.CoInitializeEx(0), kSOk);
    com.CoUninitialize();
  }).join();
}

}  // namespace
