// Processes whose first thread has ended while their other threads run on.
// The kernel's process connector reports the first thread's end as the
// process's and never reports the end of its last thread; each such process
// is watched through a pidfd until it has really ended.
#pragma once

#include <poll.h>

#include <cstdint>
#include <vector>

#include "platform/posix/base/unique_fd.h"
#include "platform/posix/events/known_processes.h"
#include "platform/posix/events/process_connector.h"
#include "platform/posix/events/process_events.h"

namespace platform::posix {

class LingeringProcesses {
 public:
  // Whether the reported end is that of the process's first thread only,
  // its other threads running on: the process is then watched and the
  // report held back. False for a process that has ended (or cannot be
  // watched: its report then stands).
  bool Hold(const KernelProcessEvent& exit);

  // Appends a poll entry for each watched process.
  void AddTo(std::vector<pollfd>& polled) const;
  // After a poll of the entries AddTo appended from `first` on: the held
  // reports of the processes that have now ended go to known, in the order
  // they were held.
  void Release(const std::vector<pollfd>& polled, std::size_t first, KnownProcesses& known,
               std::vector<ProcessEvent>& events);

  bool Empty() const { return mHeld.empty(); }

 private:
  struct Held {
    KernelProcessEvent Exit;
    UniqueFd Pidfd;
  };
  std::vector<Held> mHeld;
};

}  // namespace platform::posix
