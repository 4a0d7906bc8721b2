// Start-up benchmark: the time from starting a program to the first paint of
// its window, for the setup program and for one or more yardsticks (minimal
// windows of the same toolkit), measured alike and in turn in the same run on
// the display in DISPLAY. Prints figures only.
//   nvk_first_paint_bench [--wine] [--rounds N] SETUP_PROGRAM YARDSTICK...
// With --wine all are Windows programs run as "wine PROGRAM" (the Wine
// prefix and its dpi from the environment).
// A window's first paint is the first damage (XDamage) of a top-level window
// the started program creates; FLTK's windows have no background of the
// server's, so that damage is the program's own drawing. Under Wine it is the
// first damage of any top-level X window made after the start, for both
// programs alike.
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRoundLimit = std::chrono::seconds(20);

// The CPU time (ms) a process's threads have run so far, from the
// scheduler's nanosecond counts; 0 when the process is gone.
double CpuMs(pid_t pid) {
  if (pid <= 0) return 0;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* folder = opendir(tasks.c_str());
  if (folder == nullptr) return 0;
  double total = 0;
  while (const dirent* entry = readdir(folder)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream stat(tasks + "/" + entry->d_name + "/schedstat");
    double ns = 0;
    if (stat >> ns) total += ns / 1e6;
  }
  closedir(folder);
  return total;
}

// The Wine server of the run's prefix serves every Wine process: its CPU time
// counts towards a Windows program's start. 0 when there is none.
pid_t WineServerPid() {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return 0;
  pid_t found = 0;
  while (const dirent* entry = readdir(proc)) {
    const pid_t pid = std::atoi(entry->d_name);
    if (pid <= 0) continue;
    std::ifstream comm("/proc/" + std::string(entry->d_name) + "/comm");
    std::string name;
    if (comm >> name && name == "wineserver") found = pid;
  }
  closedir(proc);
  return found;
}

struct Timing {
  double WallMs = -1;  // negative: no first paint in time
  double CpuMs = 0;    // the program's threads, and the Wine server's share
};

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

// Starts the program and measures the time until its first top-level window
// is first painted: wall-clock, and the CPU time spent on the way, which a
// busy shared machine disturbs much less.
Timing TimeToFirstPaint(Display* display, const DamageEvents& damage, const std::vector<std::string>& command,
                        pid_t server) {
  Window root = DefaultRootWindow(display);
  XSelectInput(display, root, SubstructureNotifyMask);
  XSync(display, True);  // drop what earlier rounds left
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  const double serverBefore = CpuMs(server);
  const Clock::time_point start = Clock::now();
  pid_t child = 0;
  if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return {};
  const Clock::time_point deadline = start + kRoundLimit;
  Timing result;
  std::vector<std::pair<Window, ::Damage>> watched;  // every top-level window the program made
  while (result.WallMs < 0) {
    const std::optional<XEvent> event = NextEvent(display, deadline);
    if (!event) break;
    if (event->type == CreateNotify && event->xcreatewindow.parent == root) {
      const Window window = event->xcreatewindow.window;
      watched.emplace_back(window, XDamageCreate(display, window, XDamageReportNonEmpty));
      XFlush(display);
    } else if (event->type == damage.EventBase + XDamageNotify) {
      const Drawable painted = reinterpret_cast<const XDamageNotifyEvent*>(&*event)->drawable;
      if (std::any_of(watched.begin(), watched.end(), [painted](const auto& w) { return w.first == painted; })) {
        result.WallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        result.CpuMs = CpuMs(child) + CpuMs(server) - serverBefore;
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

// The program's file name, without its folder, as the figures name it.
std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool wine = false;
  int rounds = 15;
  while (!args.empty() && args.front().rfind("--", 0) == 0) {
    if (args.front() == "--wine") {
      wine = true;
    } else if (args.front() == "--rounds" && args.size() > 1) {
      args.erase(args.begin());
      rounds = std::max(1, std::atoi(args.front().c_str()));
    } else {
      break;
    }
    args.erase(args.begin());
  }
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: nvk_first_paint_bench [--wine] [--rounds N] SETUP_PROGRAM YARDSTICK...\n");
    return 2;
  }
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
  const std::size_t count = args.size();
  std::vector<std::vector<std::string>> programs;
  for (const std::string& path : args) {
    programs.push_back(wine ? std::vector<std::string>{"wine", path} : std::vector<std::string>{path});
  }
  // The Wine server's CPU time counts for Windows programs only.
  const pid_t server = wine ? WineServerPid() : 0;
  std::vector<std::vector<double>> wall(count), cpu(count);
  // One warm-up start of each, then the programs in turn.
  for (const auto& program : programs) TimeToFirstPaint(display, damage, program, server);
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t k = 0; k < count; ++k) {
      const Timing timing = TimeToFirstPaint(display, damage, programs[k], server);
      if (timing.WallMs < 0) continue;
      wall[k].push_back(timing.WallMs);
      cpu[k].push_back(timing.CpuMs);
    }
  }
  XCloseDisplay(display);
  for (std::size_t k = 0; k < count; ++k) {
    if (wall[k].empty()) {
      std::fprintf(stderr, "no first paint seen of %s\n", args[k].c_str());
      return 1;
    }
  }
  std::printf("start to first paint, %d rounds each (median / min / max, ms; cpu: the program's threads%s):\n",
              rounds, wine ? " and the Wine server" : "");
  for (std::size_t k = 0; k < count; ++k) {
    std::printf("  %-40s wall %7.2f / %7.2f / %7.2f   cpu %7.2f / %7.2f / %7.2f  (%zu rounds)\n",
                BaseName(args[k]).c_str(), Median(wall[k]), *std::min_element(wall[k].begin(), wall[k].end()),
                *std::max_element(wall[k].begin(), wall[k].end()), Median(cpu[k]),
                *std::min_element(cpu[k].begin(), cpu[k].end()), *std::max_element(cpu[k].begin(), cpu[k].end()),
                wall[k].size());
  }
  for (std::size_t k = 1; k < count; ++k) {
    std::printf("ratio to %s (medians): wall %.2f, cpu %.2f\n", BaseName(args[k]).c_str(),
                Median(wall[0]) / Median(wall[k]), Median(cpu[0]) / Median(cpu[k]));
  }
  return 0;
}
