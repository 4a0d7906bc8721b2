// Benchmark of the Linux process event service, per source (connector and
// polling): events delivered per second for a burst of processes, delivery
// latency of starts, and the service's CPU share while nothing is asked of it.
// Prints figures; asserts nothing.
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

#include "platform/posix/process_events.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using platform::posix::ProcessEvent;
using platform::posix::ProcessEventKind;
using platform::posix::ProcessEventService;
using platform::posix::ProcessEventServiceOptions;
using platform::posix::ProcessEventSource;

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

const char* Name(ProcessEventSource source) {
  return source == ProcessEventSource::Netlink ? "netlink" : source == ProcessEventSource::Polling ? "polling" : "none";
}

// Starts `count` processes with the arguments, `together` of them alive at a
// time at most (1: one after the other), and reports what the service delivered.
void Burst(ProcessEventService& service, const char* label, const std::vector<const char*>& arguments, int count,
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
void Drain(ProcessEventService& service, int count) {
  Observed observed;
  const std::uint64_t start = service.Subscribe(ProcessEventKind::Start, [&](const ProcessEvent& e) { observed.Add(e); });
  const std::uint64_t stop = service.Subscribe(ProcessEventKind::Stop, [&](const ProcessEvent& e) { observed.Add(e); });
  service.StallSourceForTesting(true);
  std::vector<std::uint32_t> ids;
  for (int i = 0; i < count; ++i) {
    const pid_t pid = Spawn({"true"});
    if (pid <= 0) continue;
    waitpid(pid, nullptr, 0);
    ids.push_back(static_cast<std::uint32_t>(pid));
  }
  const std::uint64_t resyncs = service.ResyncCountForTesting();
  const Clock::time_point released = Clock::now();
  service.StallSourceForTesting(false);
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
              service.ResyncCountForTesting() > resyncs ? " (the queue overflowed: resynchronised)" : "");
}

void Idle(ProcessEventService& service, int seconds) {
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

}  // namespace

int main(int argc, char** argv) {
  const int shortCount = argc > 1 ? std::atoi(argv[1]) : 5000;
  const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
  for (const bool polling : {false, true}) {
    ProcessEventServiceOptions options;
    options.ForcePolling = polling;
    ProcessEventService service(options);
    // Which source runs shows only while subscribed.
    const std::uint64_t probe = service.Subscribe(ProcessEventKind::Start, [](const ProcessEvent&) {});
    const ProcessEventSource source = service.Source();
    service.Unsubscribe(probe);
    if (!polling && source != ProcessEventSource::Netlink) {
      std::printf("netlink: not available (needs root or CAP_NET_ADMIN in the first PID namespace)\n");
      continue;
    }
    std::printf("%s%s:\n", Name(source), polling ? " (200 ms between scans)" : "");
    Burst(service, "short (/bin/true, serial)", {"true"}, shortCount, 1);
    if (!polling) Drain(service, 2000);
    Burst(service, "0.5 s each, 50 at a time", {"sleep", "0.5"}, 500, 50);
    Idle(service, idleSeconds);
  }
  return 0;
}
