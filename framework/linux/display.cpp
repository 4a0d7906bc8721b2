// Opening the X display for FLTK with retries, and noticing its loss.
#include "framework/linux/display.h"

#include <FL/Fl.H>
#include <FL/x.H>
#include <X11/Xlib.h>

#include <atomic>
#include <cstdint>

#include "platform/clock.h"
#include "platform/text.h"

namespace framework {
namespace {

// The display is tried for about a second before it counts as missing.
constexpr std::uint64_t kDisplayRetryMs = 1000;
constexpr std::uint32_t kDisplayRetryPauseMs = 50;

Display* OpenDisplayWithRetry() {
  platform::Clock& clock = platform::CurrentClock();
  const std::uint64_t deadline = clock.TickMs() + kDisplayRetryMs;
  for (;;) {
    if (Display* display = XOpenDisplay(nullptr)) return display;
    if (clock.TickMs() >= deadline) return nullptr;
    clock.Sleep(kDisplayRetryPauseMs);
  }
}

std::atomic<bool> gDisplayLost{false};

// Xlib's report of a broken connection: nothing is printed; the exit step
// below marks the display lost and returns, so the process goes on.
int QuietIOError(Display*) { return 0; }
void MarkDisplayLost(Display*, void*) { gDisplayLost.store(true); }

}  // namespace

bool OpenDisplay() {
  Display* display = OpenDisplayWithRetry();
  if (display == nullptr) return false;
  fl_open_display(display);
  XSetIOErrorHandler(&QuietIOError);
  XSetIOErrorExitHandler(display, &MarkDisplayLost, nullptr);
  return true;
}

std::u16string DisplayRefusedMessage() {
  return platform::Utf8ToWide(std::string("Can't open display: ") + XDisplayName(nullptr));
}

bool DisplayLost() { return gDisplayLost.load(); }

bool DisplayAvailable() {
  if (fl_display != nullptr) return true;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  XCloseDisplay(display);
  return true;
}

}  // namespace framework
