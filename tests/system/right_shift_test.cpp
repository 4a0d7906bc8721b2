// The right Shift key as the Linux platform reads it from the X server: held
// and released through XTest on the test run's Xvfb, and never seen by a
// process that has no display.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "diag/debug_console.h"
#include "diag/debug_console_testing.h"
#include "platform/console.h"

// Last: Xlib's macros (None, Bool, ...) clash with names in the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using namespace std::chrono_literals;

// Far above the poller's few milliseconds; only a fault reaches it.
constexpr auto kBound = 20s;

bool WaitFor(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// The test's own connection to the server, apart from the platform's poller.
// Presses exactly Shift_R, and releases it again however the test ends.
class Keyboard {
 public:
  explicit Keyboard(const char* displayName) : mDisplay(XOpenDisplay(displayName)) {}
  ~Keyboard() {
    if (mDisplay == nullptr) return;
    if (mHeld) ReleaseShiftR();
    XCloseDisplay(mDisplay);
  }
  Keyboard(const Keyboard&) = delete;
  Keyboard& operator=(const Keyboard&) = delete;

  bool Connected() const { return mDisplay != nullptr; }

  void PressShiftR() {
    XTestFakeKeyEvent(mDisplay, XKeysymToKeycode(mDisplay, XK_Shift_R), True, CurrentTime);
    XSync(mDisplay, False);
    mHeld = true;
  }
  void ReleaseShiftR() {
    XTestFakeKeyEvent(mDisplay, XKeysymToKeycode(mDisplay, XK_Shift_R), False, CurrentTime);
    XSync(mDisplay, False);
    mHeld = false;
  }

  // The key's state as the server reports it to this connection.
  bool IsDown(KeySym key) {
    char keys[32] = {};
    XQueryKeymap(mDisplay, keys);
    const KeyCode code = XKeysymToKeycode(mDisplay, key);
    return (static_cast<unsigned char>(keys[code / 8]) & (1u << (code % 8))) != 0;
  }

 private:
  Display* mDisplay;
  bool mHeld = false;
};

bool ConsoleOpen() {
  const TDebugConsole* console = diag_testing::CurrentInstance();
  return console != nullptr && console->Enabled();
}

// Registered with the run's display.
TEST(RightShiftKey, FollowsTheKeyHeldOnTheDisplay) {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "this test runs on the test run's display";
  Keyboard keyboard(nullptr);
  ASSERT_TRUE(keyboard.Connected());
  ASSERT_FALSE(keyboard.IsDown(XK_Shift_R)) << "another client holds Shift_R";
  platform::ConsoleServices& console = platform::SystemConsole();

  EXPECT_FALSE(console.IsRightShiftDown());

  keyboard.PressShiftR();
  ASSERT_TRUE(keyboard.IsDown(XK_Shift_R));
  EXPECT_FALSE(keyboard.IsDown(XK_Shift_L)) << "only the right Shift key is held";
  EXPECT_TRUE(WaitFor([&] { return console.IsRightShiftDown(); }));

  keyboard.ReleaseShiftR();
  ASSERT_FALSE(keyboard.IsDown(XK_Shift_R));
  EXPECT_TRUE(WaitFor([&] { return !console.IsRightShiftDown(); }));
}

TEST(RightShiftKey, HeldKeyHoldsTheTraceCallThenOpensTheConsole) {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "this test runs on the test run's display";
  ASSERT_FALSE(ConsoleOpen()) << "nothing in this process may have opened the console yet";
  Keyboard keyboard(nullptr);
  ASSERT_TRUE(keyboard.Connected());
  platform::ConsoleServices& console = platform::SystemConsole();

  keyboard.PressShiftR();
  ASSERT_TRUE(WaitFor([&] { return console.IsRightShiftDown(); }));

  // The console writes to standard error on Linux.
  testing::internal::CaptureStderr();
  auto trace = std::async(std::launch::async, [] { GetDebugConsole()->WriteLine(u"first line after the key"); });
  // With the key down the call must still be waiting, however long we look.
  EXPECT_EQ(trace.wait_for(500ms), std::future_status::timeout);
  EXPECT_FALSE(ConsoleOpen());

  keyboard.ReleaseShiftR();
  const bool finished = trace.wait_for(kBound) == std::future_status::ready;
  const std::string written = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(finished);
  EXPECT_TRUE(ConsoleOpen());
  EXPECT_EQ(written, "first line after the key\n");
}

// Registered without DISPLAY: the key state must not come from anywhere else,
// even while the key is down on the run's server.
TEST(RightShiftKeyWithoutDisplay, StaysUpWhileTheServerHoldsIt) {
  const char* ownDisplay = std::getenv("DISPLAY");
  ASSERT_TRUE(ownDisplay == nullptr || *ownDisplay == '\0') << "this test runs without a display";
  const char* runDir = std::getenv("NVK_RUN_DIR");
  ASSERT_NE(runDir, nullptr);
  std::string displayName;
  std::ifstream(std::string(runDir) + "/display") >> displayName;
  Keyboard keyboard(displayName.c_str());
  ASSERT_TRUE(keyboard.Connected()) << displayName;
  platform::ConsoleServices& console = platform::SystemConsole();

  keyboard.PressShiftR();
  ASSERT_TRUE(keyboard.IsDown(XK_Shift_R));
  for (int sample = 0; sample < 50; ++sample) {
    ASSERT_FALSE(console.IsRightShiftDown()) << "sample " << sample;
    std::this_thread::sleep_for(10ms);
  }
  // A trace call therefore goes straight through and leaves the console closed.
  EXPECT_FALSE(GetDebugConsole()->Enabled());
}

// Registered on its own with the run's display. The first question finds a
// display that refuses the connection (as a loaded server may); once the
// display answers, the key is read from it after all.
TEST(RightShiftKeyLateDisplay, ADisplayThatRefusedAtFirstIsAskedAgain) {
  const char* runDisplay = std::getenv("DISPLAY");
  ASSERT_TRUE(runDisplay != nullptr && *runDisplay != '\0') << "this test runs on the test run's display";
  const std::string displayName = runDisplay;
  const char* refusing = ":9876";
  ASSERT_FALSE(std::ifstream("/tmp/.X11-unix/X9876").good()) << "a server listens on " << refusing;
  Keyboard keyboard(displayName.c_str());
  ASSERT_TRUE(keyboard.Connected());
  platform::ConsoleServices& console = platform::SystemConsole();

  setenv("DISPLAY", refusing, 1);
  keyboard.PressShiftR();
  EXPECT_FALSE(console.IsRightShiftDown()) << "no server to ask";

  setenv("DISPLAY", displayName.c_str(), 1);
  EXPECT_TRUE(WaitFor([&] { return console.IsRightShiftDown(); }));
  keyboard.ReleaseShiftR();
  EXPECT_TRUE(WaitFor([&] { return !console.IsRightShiftDown(); }));
}

}  // namespace
