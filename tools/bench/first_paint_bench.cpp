// Start-up benchmark: the time from starting a program to the first paint of
// its window, for the setup program and for a minimal FLTK window, measured
// alike in the same run on the display in DISPLAY. Prints figures only.
//   nvk_first_paint_bench [--wine] SETUP_PROGRAM MINIMAL_PROGRAM [ROUNDS]
// With --wine both are Windows programs run as "wine PROGRAM" (the Wine
// prefix and its dpi from the environment), the yardstick a minimal Win32
// window.
// A window's first paint is the first damage (XDamage) of a top-level window
// the started program creates; FLTK's windows have no background of the
// server's, so that damage is the program's own drawing. Under Wine it is the
// first damage of any top-level X window made after the start, for both
// programs alike.
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRoundLimit = std::chrono::seconds(20);

struct DamageEvents {
  int EventBase = 0;
  int ErrorBase = 0;
};

// The next X event, or nothing once the deadline has passed.
std::optional<XEvent> NextEvent(Display* display, Clock::time_point deadline) {
  while (XPending(display) == 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return std::nullopt;
    pollfd watch = {ConnectionNumber(display), POLLIN, 0};
    poll(&watch, 1, static_cast<int>(left));
  }
  XEvent event;
  XNextEvent(display, &event);
  return event;
}

// Starts the program and returns the milliseconds until its first top-level
// window is first painted, or a negative value when none came in time.
double TimeToFirstPaint(Display* display, const DamageEvents& damage, const std::vector<std::string>& command) {
  Window root = DefaultRootWindow(display);
  XSelectInput(display, root, SubstructureNotifyMask);
  XSync(display, True);  // drop what earlier rounds left
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  const Clock::time_point start = Clock::now();
  pid_t child = 0;
  if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  const Clock::time_point deadline = start + kRoundLimit;
  double result = -1;
  std::vector<std::pair<Window, ::Damage>> watched;  // every top-level window the program made
  while (result < 0) {
    const std::optional<XEvent> event = NextEvent(display, deadline);
    if (!event) break;
    if (event->type == CreateNotify && event->xcreatewindow.parent == root) {
      const Window window = event->xcreatewindow.window;
      watched.emplace_back(window, XDamageCreate(display, window, XDamageReportNonEmpty));
      XFlush(display);
    } else if (event->type == damage.EventBase + XDamageNotify) {
      const Drawable painted = reinterpret_cast<const XDamageNotifyEvent*>(&*event)->drawable;
      if (std::any_of(watched.begin(), watched.end(), [painted](const auto& w) { return w.first == painted; })) {
        result = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      }
    }
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  for (const auto& [window, handle] : watched) XDamageDestroy(display, handle);
  XSelectInput(display, root, NoEventMask);
  XSync(display, True);
  return result;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }  // a window may go before its damage does

}  // namespace

int main(int argc, char** argv) {
  const bool wine = argc > 1 && std::string(argv[1]) == "--wine";
  if (wine) {
    --argc;
    ++argv;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: nvk_first_paint_bench [--wine] SETUP_PROGRAM MINIMAL_PROGRAM [ROUNDS]\n");
    return 2;
  }
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 15;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "no display: set DISPLAY (tools/bench/first-paint starts an Xvfb)\n");
    return 2;
  }
  XSetErrorHandler(&IgnoreXErrors);
  DamageEvents damage;
  int major = 1, minor = 1;
  if (!XDamageQueryExtension(display, &damage.EventBase, &damage.ErrorBase) ||
      !XDamageQueryVersion(display, &major, &minor)) {
    std::fprintf(stderr, "the X server has no DAMAGE extension\n");
    return 2;
  }
  std::vector<std::string> programs[2] = {{argv[1]}, {argv[2]}};
  if (wine) {
    for (auto& command : programs) command.insert(command.begin(), "wine");
  }
  std::vector<double> times[2];
  // One warm-up start of each, then the two programs in turn.
  for (const auto& program : programs) TimeToFirstPaint(display, damage, program);
  for (int round = 0; round < rounds; ++round) {
    for (int k = 0; k < 2; ++k) {
      const double ms = TimeToFirstPaint(display, damage, programs[k]);
      if (ms >= 0) times[k].push_back(ms);
    }
  }
  XCloseDisplay(display);
  if (times[0].empty() || times[1].empty()) {
    std::fprintf(stderr, "no first paint seen (setup %zu, minimal %zu rounds)\n", times[0].size(), times[1].size());
    return 1;
  }
  const char* names[2] = {"setup dialog", wine ? "minimal Win32 window" : "minimal FLTK window"};
  std::printf("start to first paint, %d rounds each (median / min / max, ms):\n", rounds);
  for (int k = 0; k < 2; ++k) {
    std::printf("  %-20s %7.2f / %7.2f / %7.2f  (%zu rounds)\n", names[k], Median(times[k]),
                *std::min_element(times[k].begin(), times[k].end()), *std::max_element(times[k].begin(), times[k].end()),
                times[k].size());
  }
  std::printf("ratio setup / minimal (medians): %.2f (goal: at most 1.3)\n", Median(times[0]) / Median(times[1]));
  return 0;
}
