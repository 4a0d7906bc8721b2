// The trace unit: console states, the right-Shift rule and line output.
#include <gtest/gtest.h>

#include "diag/debug_console.h"
#include "diag/debug_console_testing.h"
#include "framework/sysutils.h"
#include "platform/text.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_console.h"

namespace {

class DebugConsoleTest : public ::testing::Test {
 protected:
  // The pauses of the key wait, in milliseconds.
  std::vector<std::uint32_t> Pauses() {
    std::vector<std::uint32_t> pauses;
    for (const FakeClock::Pause& pause : mClock.Sleeps()) pauses.push_back(pause.Milliseconds);
    return pauses;
  }

  FakeConsole mConsole;
  diag_testing::ScopedConsoleServices mScope{mConsole};
  FakeClock mClock;
  platform::ScopedClockForTesting mClockScope{mClock};
};

TEST_F(DebugConsoleTest, WithoutKeyOrSwitchLinesAreDroppedAndTheInstanceStaysClosed) {
  EXPECT_EQ(diag_testing::CurrentInstance(), nullptr);
  GetDebugConsole()->WriteLine(u"dropped");
  TDebugConsole* instance = diag_testing::CurrentInstance();
  ASSERT_NE(instance, nullptr);
  EXPECT_FALSE(instance->Enabled());
  EXPECT_EQ(instance->Output(), nullptr);
  EXPECT_EQ(mConsole.Allocations(), 0);
  EXPECT_TRUE(mConsole.Writes().empty());
  EXPECT_EQ(GetDebugConsole(), instance) << "one instance for the whole process";
}

TEST_F(DebugConsoleTest, EnableOpensOnceAndFalseNeverCloses) {
  TDebugConsole* instance = DebugConsoleInstance(true);
  EXPECT_TRUE(instance->Enabled());
  EXPECT_EQ(mConsole.Allocations(), 1);
  EXPECT_EQ(DebugConsoleInstance(true), instance);
  EXPECT_EQ(DebugConsoleInstance(false), instance);
  EXPECT_TRUE(instance->Enabled());
  EXPECT_EQ(mConsole.Allocations(), 1) << "an open console allocates nothing more";
}

TEST_F(DebugConsoleTest, LaterEnableOpensAClosedInstance) {
  TDebugConsole* instance = DebugConsoleInstance(false);
  instance->WriteLine(u"lost");
  EXPECT_EQ(DebugConsoleInstance(true), instance);
  EXPECT_EQ(mConsole.Allocations(), 1);
  instance->WriteLine(u"kept");
  EXPECT_EQ(mConsole.Writes(), std::vector<std::string>{"kept\n"}) << "lines traced while closed are not replayed";
}

TEST_F(DebugConsoleTest, HeldKeyWaitsForReleaseThenOpensAndWritesThatLine) {
  DebugConsoleInstance(false);
  mConsole.HoldRightShiftFor(4);  // the first query and three more read "down"
  GetDebugConsole()->WriteLine(u"first line");
  EXPECT_EQ(Pauses(), (std::vector<std::uint32_t>{100, 100, 100})) << "the key is polled through the clock";
  EXPECT_EQ(mConsole.KeyQueries(), 5);
  EXPECT_EQ(mConsole.Allocations(), 1);
  EXPECT_EQ(mConsole.Writes(), std::vector<std::string>{"first line\n"});
}

TEST_F(DebugConsoleTest, KeyDownAtFirstUseCreatesTheInstanceOpen) {
  mConsole.HoldRightShiftFor(1);
  TDebugConsole* instance = GetDebugConsole();
  EXPECT_TRUE(instance->Enabled());
  EXPECT_EQ(mConsole.Allocations(), 1);
  EXPECT_TRUE(Pauses().empty()) << "released at the immediate second query";
}

TEST_F(DebugConsoleTest, SecondPressWaitsAgainButAllocatesNothing) {
  DebugConsoleInstance(true);
  mConsole.HoldRightShiftFor(3);
  GetDebugConsole()->WriteLine(u"x");
  EXPECT_EQ(Pauses().size(), 2u);
  EXPECT_EQ(mConsole.Allocations(), 1);
  EXPECT_EQ(mConsole.OutputQueries(), 1);
}

TEST_F(DebugConsoleTest, LineFormat) {
  TDebugConsole* console = DebugConsoleInstance(true);
  console->WriteLine(u"");
  console->WriteLine(u"Install Method = " + IntToStr(-1));
  console->WriteLine(u"Handle : " + IntToStr(static_cast<std::int32_t>(0xFFFFFFFEu)));
  const std::u16string wide = u"\u00e9t\u00e9 \u00fcber";  // several bytes each in UTF-8
  console->WriteLine(wide);
  const std::vector<std::string> writes = mConsole.Writes();
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes[0], "\n") << "an empty text writes a lone line feed";
  EXPECT_EQ(writes[1], "Install Method = -1\n");
  EXPECT_EQ(writes[2], "Handle : -2\n");
  EXPECT_EQ(writes[3], platform::WideToAnsi(wide + u"\n")) << "written whole, in one write";
  EXPECT_TRUE(mConsole.AllWritesWentToOutput());
}

TEST_F(DebugConsoleTest, MissingOutputHandleCountsAsOpenWritesNothingAndIsNotRetried) {
  mConsole.SetOutputMissing(true);
  TDebugConsole* console = DebugConsoleInstance(true);
  EXPECT_TRUE(console->Enabled());
  console->WriteLine(u"nowhere");
  mConsole.SetOutputMissing(false);
  DebugConsoleInstance(true);
  mConsole.HoldRightShiftFor(1);
  GetDebugConsole()->WriteLine(u"still nowhere");
  EXPECT_EQ(mConsole.Allocations(), 1);
  EXPECT_EQ(mConsole.OutputQueries(), 1);
  EXPECT_TRUE(mConsole.Writes().empty());
}

}  // namespace
