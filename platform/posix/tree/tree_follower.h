// The tree follower of the Linux tree helper: a child subreaper that launched
// a program and reports every start and stop of that program's process tree,
// each stop only after every process the stopped one left behind has been
// reported, and reaps every child it has (the program and adopted orphans).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/posix/base/proc_scan.h"

namespace platform::posix {

// One message from the tree helper to the program that started it, sent as
// one packet of a SOCK_SEQPACKET socket, in this order: Launched (with the
// launched program's pidfd attached, when one could be had) or LaunchFailed,
// then Start and Stop reports until the whole tree has ended.
struct TreeReport {
  enum class Kind : std::uint32_t { Launched = 1, LaunchFailed = 2, Start = 3, Stop = 4 };
  Kind What = Kind::Start;
  std::uint32_t Id = 0;      // the process; for LaunchFailed the launch's error number
  std::uint32_t Parent = 0;  // the process in the tree that it is counted under
  char Name[256] = {};       // Start: the executable's base name, cut to fit; may be empty
};

// What the follower needs of the system: the helper's real one, or a test's
// fake. Used by one thread.
class FollowerSystem {
 public:
  // What ReapOne found.
  struct Reaped {
    enum class Kind { Child, NoneEnded, NoChildren };
    Kind What = Kind::NoneEnded;
    std::uint32_t Id = 0;  // for Child: the reaped child
  };

  virtual ~FollowerSystem() = default;

  // This process's id.
  virtual std::uint32_t OwnId() = 0;
  // Every process now, zombies included and marked, names not read, into
  // *scan. False when the process table could not be read (no descriptor
  // left, for one): such a scan shows nothing, not that nothing runs.
  virtual bool Scan(std::vector<ProcInfo>& scan) = 0;
  // The executable's base name of a process; empty when it is gone.
  virtual std::string NameOf(std::uint32_t id) = 0;
  // Begins to watch a process that the scan showed with this start time.
  // False when it has ended, is gone, its id now belongs to another one, or
  // no watch can be had (no descriptor left).
  virtual bool Watch(std::uint32_t id, std::uint64_t startTicks) = 0;
  // Ends the watch of a process (nothing when it is not watched).
  virtual void Unwatch(std::uint32_t id) = 0;
  // Waits up to the time limit (0: only looks) until a watched process has
  // ended; returns every watched process that has ended by then.
  virtual std::vector<std::uint32_t> EndedWatched(int milliseconds) = 0;
  // Reaps one ended child of this process, if there is one.
  virtual Reaped ReapOne() = 0;
  // Sends a report to the program; a program that has gone is ignored.
  virtual void Report(const TreeReport& report) = 0;
};

// Follows the tree below the launched program; the system's process must be
// a child subreaper, so that every orphan of the tree comes to it.
class TreeFollower {
 public:
  // launched: the launched program, a child of this process; watched: the
  // system already watches it (otherwise the scans tell when it has ended).
  TreeFollower(FollowerSystem& system, std::uint32_t launched, std::uint64_t launchedStartTicks, bool watched,
               int scanMilliseconds);
  TreeFollower(const TreeFollower&) = delete;
  TreeFollower& operator=(const TreeFollower&) = delete;

  // One round: waits for an end of a watched member or the scan interval,
  // then (1) takes which members have ended, (2) scans and reports every new
  // process of the tree (parents first), (3) reports the stops of the ended
  // members, (4) reaps every ended child. When the scan fails, (2) and (3)
  // wait for a round whose scan succeeds: the ended members are let go of
  // their watches and kept as seen ended, the others as they were; unless
  // no child is left, which ends the whole tree at once. False once the
  // whole tree has ended and been reported: no member left and no child
  // left.
  bool Round();

 private:
  struct Member {
    std::uint32_t Parent = 0;
    std::uint64_t StartTicks = 0;
    bool Watched = false;
    // Not watched, and the last scan showed it ended or gone.
    bool SeenEnded = false;
  };

  void Discover(const std::vector<ProcInfo>& scan);
  void ReportStart(std::uint32_t id, std::uint32_t parent, const std::string& name);
  void ReportStop(std::uint32_t id, std::uint32_t parent);
  // False when the system has no children left.
  bool ReapEnded();

  FollowerSystem& mSystem;
  const std::uint32_t mOwnId;
  const std::uint32_t mLaunched;
  const int mScanMilliseconds;
  // Reported as started, stop not yet reported.
  std::map<std::uint32_t, Member> mMembers;
  // Stop reported, maybe not yet reaped (by us or by its parent): id and start.
  std::map<std::uint32_t, std::uint64_t> mFinished;
  // The last round's scan failed: the next one waits the whole interval.
  bool mScanFailed = false;
};

}  // namespace platform::posix
