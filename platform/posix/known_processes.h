// The processes the event service knows to be running, and the start and
// stop events that bring that knowledge up to date from kernel events or
// from a /proc scan. Used by the service's source thread only.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/posix/proc_scan.h"
#include "platform/posix/process_events.h"

namespace platform::posix {

// Not thread-safe: one thread (the source) owns it.
class KnownProcesses {
 public:
  // Forgets everything and knows the running processes of the scan (zombies
  // have ended), without events.
  void Reset(const std::vector<ProcInfo>& scan);

  // A new process reported by the kernel, with its start time in clock ticks
  // since boot. Appends its start; nothing when it is already known (a
  // report older than what a scan found). A known id with a later start is a
  // new process under a reused id: the old one's stop comes first.
  void Started(std::uint32_t id, std::uint32_t parent, std::uint64_t startTicks, std::vector<ProcessEvent>& events);

  // The end of a process reported by the kernel at the given time (clock
  // ticks since boot). Appends its stop, with the parent and name it was
  // known with; nothing for an unknown process or a report that predates the
  // known process of that id.
  void Ended(std::uint32_t id, std::uint64_t ticks, std::vector<ProcessEvent>& events);

  // Brings the knowledge to a scan (names may be missing: they are read for
  // new processes only): stops for known processes that are gone, ended
  // (zombies) or replaced under a reused id, then starts for running
  // processes not known yet.
  void Resync(const std::vector<ProcInfo>& scan, std::vector<ProcessEvent>& events);

  std::size_t Size() const { return mKnown.size(); }

 private:
  struct Known {
    std::uint32_t Parent = 0;
    std::uint64_t StartTicks = 0;
    std::string Name;
  };

  void AppendStop(std::uint32_t id, const Known& known, std::vector<ProcessEvent>& events);

  std::unordered_map<std::uint32_t, Known> mKnown;
};

}  // namespace platform::posix
