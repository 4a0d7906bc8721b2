// The process connector's socket when the kernel refuses to bind it (as it
// does for a process without CAP_NET_ADMIN, though not for root here): the
// refusal reaches the caller, and the event service polls /proc instead.
#include <errno.h>
#include <gtest/gtest.h>

#include "platform/posix/base/kernel_calls.h"
#include "platform/posix/events/process_connector.h"
#include "platform/posix/events/process_events.h"

namespace {

using platform::posix::KernelCalls;
using platform::posix::ProcessEventKind;
using platform::posix::ProcessEventMonitor;
using platform::posix::ProcessEventOrigin;

// Every bind refused with EPERM, counted.
class RefusedBind : public ::testing::Test {
 protected:
  static KernelCalls Calls() {
    KernelCalls calls = platform::posix::SystemKernelCalls();
    calls.Bind = [](int, const sockaddr*, socklen_t) {
      ++sBinds;
      errno = EPERM;
      return -1;
    };
    return calls;
  }

  static inline int sBinds = 0;
  KernelCalls mCalls = Calls();
  platform::posix::ScopedKernelCallsForTesting mFake{mCalls};
  void SetUp() override { sBinds = 0; }
};

TEST_F(RefusedBind, OpenFailsWithTheKernelsError) {
  platform::posix::ProcessConnector connector;
  errno = 0;
  EXPECT_FALSE(connector.Open(1 << 20));
  EXPECT_EQ(errno, EPERM);
  EXPECT_EQ(sBinds, 1) << "the socket was not made, so its bind was never tried";
}

TEST_F(RefusedBind, TheEventServicePollsInstead) {
  if (!platform::posix::SeesConnectorIds()) GTEST_SKIP() << "the connector is not tried in this PID namespace";
  ProcessEventMonitor service;
  const std::uint64_t id = service.Subscribe(ProcessEventKind::Start, [](const auto&) {});
  ASSERT_NE(id, 0u);
  EXPECT_EQ(service.Origin(), ProcessEventOrigin::Polling);
  EXPECT_EQ(sBinds, 1);
  service.Unsubscribe(id);
}

}  // namespace
