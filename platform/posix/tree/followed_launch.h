// A launch whose whole process tree is followed exactly without root: the
// tree helper beside this program's executable launches the program as a
// child subreaper and reports the tree's starts and stops, which go to the
// process-wide event service in place of what its /proc scans would show.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/base/unique_fd.h"

namespace platform::posix {

// What a followed launch shares with its handle: the launched program counts
// as ended once its stop has been delivered to the event service's
// subscribers, after every process of the tree that the helper reported
// before it. Any thread.
class FollowedRun {
 public:
  FollowedRun();
  FollowedRun(const FollowedRun&) = delete;
  FollowedRun& operator=(const FollowedRun&) = delete;

  // Readable once the launched program counts as ended.
  int EndDescriptor() const { return mEnd.Get(); }
  void MarkEnded() const;

 private:
  const UniqueFd mEnd;  // an eventfd
};

struct FollowedLaunch {
  pid_t Pid = 0;
  UniqueFd Pidfd;  // of the launched program (not a child of this process); may be empty
  std::shared_ptr<FollowedRun> Run;
};

// Whether a tree helper reported this process started and its stop has not
// yet been delivered to the event service's subscribers. To the followed tree
// such a process is still running, whatever the system shows of it now: it
// may have ended and left orphans whose starts the helper has still to report
// (the helper reports a stop only after them). Any thread.
bool IsUnstoppedFollowedMember(std::uint32_t id);

// The helper's path beside this program's executable; empty when it is not
// there (the launch then goes without it).
std::string TreeHelperPath();

// Launches file with its argv (argv[0] included) in directory (empty: the
// current one) through the helper. False with errno set when the program
// could not be launched. A thread of its own takes the helper's reports
// until the helper ends, then reaps it.
bool LaunchFollowed(const std::string& helper, const std::string& directory, const std::vector<std::string>& argv,
                    FollowedLaunch& launched);

}  // namespace platform::posix
