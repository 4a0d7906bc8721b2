// Helpers of the Linux process event tests: a recorder of delivered events
// and short child processes started with posix_spawn.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/events/process_events.h"

extern char** environ;

namespace events_test {

using platform::posix::ProcessEvent;
using platform::posix::ProcessEventKind;
using platform::posix::ProcessEvents;

// Every event delivered to its subscriptions, by kind and process id.
class Recorder {
 public:
  // Subscribes to both kinds; false when either subscription failed.
  bool SubscribeTo(ProcessEvents& service) {
    mStartId = service.Subscribe(ProcessEventKind::Start, [this](const ProcessEvent& event) { Add(event); });
    mStopId = service.Subscribe(ProcessEventKind::Stop, [this](const ProcessEvent& event) { Add(event); });
    return mStartId != 0 && mStopId != 0;
  }
  void UnsubscribeFrom(ProcessEvents& service) {
    service.Unsubscribe(mStartId);
    service.Unsubscribe(mStopId);
  }

  void Add(const ProcessEvent& event) {
    {
      std::lock_guard<std::mutex> lock(mMutex);
      auto& events = event.Kind == ProcessEventKind::Start ? mStarts : mStops;
      events[event.ProcessId].push_back(event);
      mThreads.push_back(std::this_thread::get_id());
    }
    mChanged.notify_all();
  }

  // Waits until the condition holds (called under the recorder's lock), for
  // at most a generous minute; the condition's last result.
  bool WaitFor(const std::function<bool()>& condition) {
    std::unique_lock<std::mutex> lock(mMutex);
    return mChanged.wait_for(lock, std::chrono::minutes(1), condition);
  }

  // The events of one kind for a process, in order. Under the lock (inside
  // WaitFor's condition) or after the subscriptions have ended.
  const std::vector<ProcessEvent>& Starts(std::uint32_t id) { return mStarts[id]; }
  const std::vector<ProcessEvent>& Stops(std::uint32_t id) { return mStops[id]; }
  bool Started(std::uint32_t id) const { return mStarts.contains(id); }
  bool Stopped(std::uint32_t id) const { return mStops.contains(id); }
  const std::map<std::uint32_t, std::vector<ProcessEvent>>& AllStarts() const { return mStarts; }
  std::vector<std::thread::id> Threads() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mThreads;
  }

 private:
  std::mutex mMutex;
  std::condition_variable mChanged;
  std::map<std::uint32_t, std::vector<ProcessEvent>> mStarts;
  std::map<std::uint32_t, std::vector<ProcessEvent>> mStops;
  std::vector<std::thread::id> mThreads;
  std::uint64_t mStartId = 0;
  std::uint64_t mStopId = 0;
};

// Starts a program from PATH with the arguments; its standard input is the
// given descriptor (-1: /dev/null). The child's id, or 0 on failure.
inline pid_t Spawn(const std::vector<std::string>& arguments, int input = -1) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input >= 0) {
    posix_spawn_file_actions_adddup2(&actions, input, 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  pid_t pid = 0;
  const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return failed == 0 ? pid : 0;
}

inline void Reap(pid_t pid) {
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// Runs /bin/true to its end: one short process. Its id, or 0.
inline pid_t RunShortProcess() {
  const pid_t pid = Spawn({"true"});
  if (pid > 0) Reap(pid);
  return pid;
}

inline std::uint32_t Id(pid_t pid) { return static_cast<std::uint32_t>(pid); }

}  // namespace events_test
