// Every platform service has one seam: the real service, the one in use, and
// a scoped override that replaces it for the override's lifetime, nests, and
// restores what was there before.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/com.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/startup.h"
#include "platform/thread_priority.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_com.h"
#include "tests/support/fake_console.h"
#include "tests/support/fake_files.h"
#include "tests/support/fake_processes.h"
#include "tests/support/headless_app.h"

namespace {

class CountingStartup final : public platform::Startup {
 public:
  void PrepareProcess() override { ++Calls; }
  int Calls = 0;
};

class RefusingOpener final : public platform::LinkOpener {
 public:
  bool OpenWithDefaultHandler(std::u16string_view) override { return false; }
};

class RefusingScheduling final : public platform::ThreadScheduling {
 public:
  bool SetCurrentThreadPriority(platform::ThreadPriority) override { return false; }
};

// How each seam is reached: its real service, the service in use, a fake and
// the scoped override.
template <class Service, class FakeService, class Scope, Service& (*SystemOf)(), Service& (*CurrentOf)()>
struct Seam {
  using Fake = FakeService;
  using Override = Scope;
  static Service& System() { return SystemOf(); }
  static Service& Current() { return CurrentOf(); }
};

using Seams = ::testing::Types<
    Seam<platform::Clock, FakeClock, platform::ScopedClockForTesting, platform::SystemClock, platform::CurrentClock>,
    Seam<platform::FileServices, FakeFiles, platform::ScopedFilesForTesting, platform::SystemFiles,
         platform::CurrentFiles>,
    Seam<platform::ProcessServices, FakeProcesses, platform::ScopedProcessesForTesting, platform::SystemProcesses,
         platform::CurrentProcesses>,
    Seam<platform::ConsoleServices, FakeConsole, platform::ScopedConsoleForTesting, platform::SystemConsole,
         platform::CurrentConsole>,
    Seam<platform::ComServices, FakeCom, platform::ScopedComForTesting, platform::SystemCom, platform::CurrentCom>,
    Seam<platform::LinkOpener, RefusingOpener, platform::ScopedLinkOpenerForTesting, platform::SystemLinkOpener,
         platform::CurrentLinkOpener>,
    Seam<platform::Startup, CountingStartup, platform::ScopedStartupForTesting, platform::SystemStartup,
         platform::CurrentStartup>,
    Seam<platform::ThreadScheduling, RefusingScheduling, platform::ScopedThreadSchedulingForTesting,
         platform::SystemThreadScheduling, platform::CurrentThreadScheduling>>;

template <class SeamType>
class SeamTest : public ::testing::Test {};
TYPED_TEST_SUITE(SeamTest, Seams);

TYPED_TEST(SeamTest, ScopedOverrideReplacesTheServiceForItsLifetimeAndRestoresIt) {
  using S = TypeParam;
  EXPECT_EQ(&S::Current(), &S::System()) << "the real service is in use without an override";
  {
    typename S::Fake outer;
    typename S::Override outerScope(outer);
    EXPECT_EQ(&S::Current(), &outer);
    {
      typename S::Fake inner;
      typename S::Override innerScope(inner);
      EXPECT_EQ(&S::Current(), &inner) << "overrides nest";
    }
    EXPECT_EQ(&S::Current(), &outer) << "the inner override gave back the outer one";
  }
  EXPECT_EQ(&S::Current(), &S::System()) << "the real service is back";
}

TEST(StartupSeam, TheApplicationPreparesTheProcessThroughTheSeamOnce) {
  CountingStartup startup;
  platform::ScopedStartupForTesting scope(startup);
  RunScenario([](ScenarioForm& form) { form.Close(); });
  EXPECT_EQ(startup.Calls, 1);
}

}  // namespace
