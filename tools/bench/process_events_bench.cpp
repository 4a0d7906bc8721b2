// Benchmark of the Linux process event service, per source (connector and
// polling): events delivered per second for a burst of processes, delivery
// latency of starts, the service's CPU share while nothing is asked of it, and
// its CPU share while another program starts 1,000 processes a second (a
// storm: `nvk_process_events_bench --storm [SECONDS]` measures only that; run
// as root, it then measures again as user 65534). Prints figures; asserts
// nothing.
#include <grp.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/events/process_events.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using platform::posix::ProcessEvent;
using platform::posix::ProcessEventKind;
using platform::posix::ProcessEventMonitor;
using platform::posix::ProcessEventMonitorOptions;
using platform::posix::ProcessEventOrigin;
using platform::posix::SourceProbe;

// What the callbacks saw, by process id.
class Observed {
 public:
  void Add(const ProcessEvent& event) {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mMutex);
    (event.Kind == ProcessEventKind::Start ? mStarts : mStops).emplace(event.ProcessId, now);
    ++mAll;
  }
  std::map<std::uint32_t, Clock::time_point> Starts() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mStarts;
  }
  std::map<std::uint32_t, Clock::time_point> Stops() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mStops;
  }
  std::uint64_t All() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mAll;
  }

 private:
  std::mutex mMutex;
  std::map<std::uint32_t, Clock::time_point> mStarts;
  std::map<std::uint32_t, Clock::time_point> mStops;
  std::uint64_t mAll = 0;
};

// Returns once nothing new has arrived for a second (a polling source's two
// intervals at least): everything in flight has been delivered.
void WaitUntilQuiet(Observed& observed) {
  std::uint64_t last = observed.All();
  for (;;) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::uint64_t now = observed.All();
    if (now == last) return;
    last = now;
  }
}

pid_t Spawn(const std::vector<const char*>& arguments) {
  std::vector<char*> argv;
  for (const char* argument : arguments) argv.push_back(const_cast<char*>(argument));
  argv.push_back(nullptr);
  pid_t pid = 0;
  return posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : 0;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[index];
}

const char* Name(ProcessEventOrigin source) {
  return source == ProcessEventOrigin::Netlink ? "netlink" : source == ProcessEventOrigin::Polling ? "polling" : "none";
}

// Starts `count` processes with the arguments, `together` of them alive at a
// time at most (1: one after the other), and reports what the service delivered.
void Burst(ProcessEventMonitor& service, const char* label, const std::vector<const char*>& arguments, int count,
           int together) {
  Observed observed;
  const std::uint64_t start = service.Subscribe(ProcessEventKind::Start, [&](const ProcessEvent& e) { observed.Add(e); });
  const std::uint64_t stop = service.Subscribe(ProcessEventKind::Stop, [&](const ProcessEvent& e) { observed.Add(e); });
  std::map<std::uint32_t, Clock::time_point> spawned;  // id -> just before the spawn call
  std::vector<pid_t> alive;
  const Clock::time_point begin = Clock::now();
  for (int i = 0; i < count; ++i) {
    if (static_cast<int>(alive.size()) >= together) {
      waitpid(alive.front(), nullptr, 0);
      alive.erase(alive.begin());
    }
    const Clock::time_point before = Clock::now();
    const pid_t pid = Spawn(arguments);
    if (pid <= 0) continue;
    spawned.emplace(static_cast<std::uint32_t>(pid), before);
    alive.push_back(pid);
  }
  for (pid_t pid : alive) waitpid(pid, nullptr, 0);
  const Clock::time_point spawnedAll = Clock::now();

  WaitUntilQuiet(observed);
  service.Unsubscribe(start);
  service.Unsubscribe(stop);

  const auto starts = observed.Starts();
  const auto stops = observed.Stops();
  std::vector<double> latencies;
  int startsSeen = 0, stopsSeen = 0;
  Clock::time_point lastDelivery = begin;
  for (const auto& [id, before] : spawned) {
    const auto started = starts.find(id);
    if (started != starts.end()) {
      ++startsSeen;
      latencies.push_back(std::chrono::duration<double, std::milli>(started->second - before).count());
      lastDelivery = std::max(lastDelivery, started->second);
    }
    const auto stopped = stops.find(id);
    if (stopped != stops.end()) {
      ++stopsSeen;
      lastDelivery = std::max(lastDelivery, stopped->second);
    }
  }
  const double seconds = std::chrono::duration<double>(lastDelivery - begin).count();
  const double spawnSeconds = std::chrono::duration<double>(spawnedAll - begin).count();
  const double lag = std::chrono::duration<double, std::milli>(lastDelivery - spawnedAll).count();
  std::printf("  %-26s %5zu started; %5d starts + %5d stops delivered in %6.2f s (spawning took %6.2f s, last"
              " delivery %+8.1f ms after it): %6.0f events/s; start latency median %7.2f ms, p99 %7.2f ms\n",
              label, spawned.size(), startsSeen, stopsSeen, seconds, spawnSeconds, lag,
              seconds > 0 ? (startsSeen + stopsSeen) / seconds : 0.0, Percentile(latencies, 0.5),
              Percentile(latencies, 0.99));
}

// The service's own pace: reports pile up in the kernel's queue while the
// source is stalled, then are read, turned into events and delivered as fast
// as the service goes. Connector only (a scan has nothing queued).
void Drain(ProcessEventMonitor& service, SourceProbe& sourceProbe, int count) {
  Observed observed;
  const std::uint64_t start = service.Subscribe(ProcessEventKind::Start, [&](const ProcessEvent& e) { observed.Add(e); });
  const std::uint64_t stop = service.Subscribe(ProcessEventKind::Stop, [&](const ProcessEvent& e) { observed.Add(e); });
  sourceProbe.Stalled = true;
  std::vector<std::uint32_t> ids;
  for (int i = 0; i < count; ++i) {
    const pid_t pid = Spawn({"true"});
    if (pid <= 0) continue;
    waitpid(pid, nullptr, 0);
    ids.push_back(static_cast<std::uint32_t>(pid));
  }
  const std::uint64_t resyncs = sourceProbe.Resyncs.load();
  const Clock::time_point released = Clock::now();
  sourceProbe.Stalled = false;
  WaitUntilQuiet(observed);
  service.Unsubscribe(start);
  service.Unsubscribe(stop);
  const auto starts = observed.Starts();
  const auto stops = observed.Stops();
  Clock::time_point lastDelivery = released;
  int delivered = 0;
  for (std::uint32_t id : ids) {
    for (const auto* seen : {&starts, &stops}) {
      const auto found = seen->find(id);
      if (found == seen->end()) continue;
      ++delivered;
      lastDelivery = std::max(lastDelivery, found->second);
    }
  }
  const double seconds = std::chrono::duration<double>(lastDelivery - released).count();
  std::printf("  %-26s %5zu queued while stalled; %5d of their events delivered in %6.3f s after release: %6.0f events/s"
              "%s\n",
              "drain of a stalled queue", ids.size(), delivered, seconds, seconds > 0 ? delivered / seconds : 0.0,
              sourceProbe.Resyncs.load() > resyncs ? " (the queue overflowed: resynchronised)" : "");
}

void Idle(ProcessEventMonitor& service, int seconds) {
  std::uint64_t events = 0;
  std::mutex mutex;
  const auto count = [&](const ProcessEvent&) {
    std::lock_guard<std::mutex> lock(mutex);
    ++events;
  };
  const std::uint64_t start = service.Subscribe(ProcessEventKind::Start, count);
  const std::uint64_t stop = service.Subscribe(ProcessEventKind::Stop, count);
  const double cpuBefore = CpuSeconds();
  const Clock::time_point begin = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double cpu = CpuSeconds() - cpuBefore;
  const double wall = std::chrono::duration<double>(Clock::now() - begin).count();
  service.Unsubscribe(start);
  service.Unsubscribe(stop);
  std::lock_guard<std::mutex> lock(mutex);
  std::printf("  %-26s CPU %.3f s in %.1f s: %.3f %% of one core (%llu events of other programs delivered meanwhile)\n",
              "idle, subscribed", cpu, wall, 100.0 * cpu / wall, static_cast<unsigned long long>(events));
}

constexpr int kStormRate = 1000;  // process starts a second

// The storm itself, in a process of its own (its work is not the service's):
// /bin/true at the rate for the given seconds, each reaped as it ends. Prints
// how many it started.
int StormGenerator(int rate, int seconds) {
  const Clock::time_point begin = Clock::now();
  const long total = static_cast<long>(rate) * seconds;
  long started = 0;
  char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
  for (long i = 0; i < total; ++i) {
    std::this_thread::sleep_until(begin + std::chrono::microseconds(i * 1'000'000L / rate));
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) == 0) ++started;
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
  }
  while (waitpid(-1, nullptr, 0) > 0) {
  }
  const double wall = std::chrono::duration<double>(Clock::now() - begin).count();
  std::printf("%ld %.3f\n", started, wall);
  return 0;
}

// The service's CPU share while another program starts kStormRate processes
// a second, with two counting subscribers.
void Storm(ProcessEventMonitor& service, int seconds) {
  std::uint64_t events = 0;
  std::mutex mutex;
  const auto count = [&](const ProcessEvent&) {
    std::lock_guard<std::mutex> lock(mutex);
    ++events;
  };
  const std::uint64_t start = service.Subscribe(ProcessEventKind::Start, count);
  const std::uint64_t stop = service.Subscribe(ProcessEventKind::Stop, count);
  const std::string rate = std::to_string(kStormRate);
  const std::string duration = std::to_string(seconds);
  int output[2];
  if (pipe(output) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, output[0]);
  char* argv[] = {const_cast<char*>("/proc/self/exe"), const_cast<char*>("--storm-generator"),
                  const_cast<char*>(rate.c_str()), const_cast<char*>(duration.c_str()), nullptr};
  const double cpuBefore = CpuSeconds();
  const Clock::time_point begin = Clock::now();
  pid_t generator = 0;
  const int failed = posix_spawn(&generator, argv[0], &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(output[1]);
  char report[64] = {};
  std::size_t got = 0;
  ssize_t n = 0;
  while (failed == 0 && got < sizeof report - 1 && (n = read(output[0], report + got, sizeof report - 1 - got)) > 0) {
    got += static_cast<std::size_t>(n);
  }
  close(output[0]);
  if (failed == 0) waitpid(generator, nullptr, 0);
  const double cpu = CpuSeconds() - cpuBefore;
  const double wall = std::chrono::duration<double>(Clock::now() - begin).count();
  service.Unsubscribe(start);
  service.Unsubscribe(stop);
  long started = 0;
  double stormWall = 0;
  std::sscanf(report, "%ld %lf", &started, &stormWall);
  std::lock_guard<std::mutex> lock(mutex);
  std::printf("  %-26s %ld started in %.1f s (%.0f a second): CPU %.3f s in %.1f s: %.2f %% of one core"
              " (%llu events delivered)\n",
              "storm of short processes", started, stormWall, stormWall > 0 ? started / stormWall : 0.0, cpu, wall,
              100.0 * cpu / wall, static_cast<unsigned long long>(events));
}

// Runs this program again as user 65534 with the arguments; false when the
// privileges could not be dropped.
bool RunUnprivileged(const char* argument, const char* value) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0 || geteuid() != 65534) _exit(125);
    execl("/proc/self/exe", "nvk_process_events_bench", argument, value, static_cast<char*>(nullptr));
    _exit(126);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Each available source under the storm; as root, then again as 65534.
int StormOnly(int seconds, bool again) {
  std::printf("%s:\n", geteuid() == 0 ? "as root" : "unprivileged");
  for (const bool polling : {false, true}) {
    ProcessEventMonitorOptions options;
    options.ForcePolling = polling;
    ProcessEventMonitor service(options);
    const std::uint64_t probe = service.Subscribe(ProcessEventKind::Start, [](const ProcessEvent&) {});
    const ProcessEventOrigin source = service.Origin();
    service.Unsubscribe(probe);
    if (!polling && source != ProcessEventOrigin::Netlink) continue;
    std::printf(" %s%s:\n", Name(source), polling ? " (200 ms between scans)" : "");
    Storm(service, seconds);
  }
  if (geteuid() == 0 && again) {
    const std::string value = std::to_string(seconds);
    if (!RunUnprivileged("--storm-unprivileged", value.c_str())) std::printf("the unprivileged run failed\n");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "--storm-generator" && argc > 3) return StormGenerator(std::atoi(argv[2]), std::atoi(argv[3]));
  if (mode == "--storm" || mode == "--storm-unprivileged") {
    return StormOnly(argc > 2 ? std::atoi(argv[2]) : 10, mode == "--storm");
  }
  const int shortCount = argc > 1 ? std::atoi(argv[1]) : 5000;
  const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
  for (const bool polling : {false, true}) {
    ProcessEventMonitorOptions options;
    options.ForcePolling = polling;
    SourceProbe sourceProbe;
    options.Probe = &sourceProbe;
    ProcessEventMonitor service(options);
    // Which source runs shows only while subscribed.
    const std::uint64_t probe = service.Subscribe(ProcessEventKind::Start, [](const ProcessEvent&) {});
    const ProcessEventOrigin source = service.Origin();
    service.Unsubscribe(probe);
    if (!polling && source != ProcessEventOrigin::Netlink) {
      std::printf("netlink: not available (needs root or CAP_NET_ADMIN in the first PID namespace)\n");
      continue;
    }
    std::printf("%s%s:\n", Name(source), polling ? " (200 ms between scans)" : "");
    Burst(service, "short (/bin/true, serial)", {"true"}, shortCount, 1);
    if (!polling) Drain(service, sourceProbe, 2000);
    Burst(service, "0.5 s each, 50 at a time", {"sleep", "0.5"}, 500, 50);
    Idle(service, idleSeconds);
    Storm(service, idleSeconds);
  }
  return 0;
}
