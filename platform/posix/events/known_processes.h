// The processes the event service knows to be running, and the start and
// stop events that bring that knowledge up to date from kernel events or
// from a /proc scan. Used by the service's source thread only.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

#include "platform/posix/base/proc_scan.h"
#include "platform/posix/events/process_events.h"

namespace platform::posix {

// The roots of process trees whose starts and stops someone reports
// first-hand (a helper that launched the tree): the source leaves out every
// process below a root while the root is listed. Any thread.
class ReportedTrees {
 public:
  void Add(std::uint32_t root);
  void Remove(std::uint32_t root);
  // The roots listed now.
  std::set<std::uint32_t> Roots() const;

 private:
  mutable std::mutex mMutex;
  std::set<std::uint32_t> mRoots;
};

// Not thread-safe: one thread (the source) owns it.
class KnownProcesses {
 public:
  // Processes below these roots are known but not reported; null: none.
  // The trees outlive this object.
  void LeaveOut(const ReportedTrees* trees) { mTrees = trees; }

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
  // Not yet looked at (ReportedBy).
  static constexpr std::uint32_t kUnresolved = 0xFFFFFFFFu;

  struct Known {
    std::uint32_t Parent = 0;
    std::uint64_t StartTicks = 0;
    std::string Name;
    // The root of a first-hand reported tree it was found below; 0: none.
    std::uint32_t ReportedBy = 0;
  };

  // The root of a reported tree the known process is below (0: none),
  // decided once per process from its parent's.
  std::uint32_t ResolveReportedBy(std::uint32_t id, const std::set<std::uint32_t>& roots);
  // Its events are someone else's to report.
  static bool LeftOut(const Known& known, const std::set<std::uint32_t>& roots) {
    return known.ReportedBy != 0 && roots.count(known.ReportedBy) != 0;
  }
  std::set<std::uint32_t> Roots() const { return mTrees == nullptr ? std::set<std::uint32_t>() : mTrees->Roots(); }
  void AppendStop(std::uint32_t id, const Known& known, const std::set<std::uint32_t>& roots,
                  std::vector<ProcessEvent>& events);

  const ReportedTrees* mTrees = nullptr;
  std::unordered_map<std::uint32_t, Known> mKnown;
};

}  // namespace platform::posix
