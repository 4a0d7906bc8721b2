// Holding back the connector's report of a first thread's end until the
// whole process has ended.
#include "platform/posix/events/lingering_processes.h"

#include <sys/syscall.h>
#include <unistd.h>

#include "platform/posix/base/proc_scan.h"

namespace platform::posix {

bool LingeringProcesses::Hold(const KernelProcessEvent& exit) {
  // Nearly every report is of a process that has ended: gone already, or a
  // zombie whose pidfd is readable. A few system calls tell, no /proc read.
  UniqueFd pidfd(static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(exit.Id), 0)));
  if (!pidfd.IsValid()) return false;
  pollfd ended{pidfd.Get(), POLLIN, 0};
  if (poll(&ended, 1, 0) != 0) return false;
  // It runs on: this very process, unless it started after the report (a
  // later process under the same id).
  ProcInfo info;
  if (!ReadProcStat(exit.Id, info) || info.StartTicks > exit.Ticks) return false;
  mHeld.push_back(Held{exit, std::move(pidfd)});
  return true;
}

void LingeringProcesses::AddTo(std::vector<pollfd>& polled) const {
  for (const Held& held : mHeld) polled.push_back(pollfd{held.Pidfd.Get(), POLLIN, 0});
}

void LingeringProcesses::Release(const std::vector<pollfd>& polled, std::size_t first, KnownProcesses& known,
                                 std::vector<ProcessEvent>& events) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < mHeld.size(); ++i) {
    const std::size_t at = first + i;
    if (at < polled.size() && polled[at].revents != 0) {
      known.Ended(mHeld[i].Exit.Id, mHeld[i].Exit.Ticks, events);
      continue;
    }
    if (kept != i) mHeld[kept] = std::move(mHeld[i]);
    ++kept;
  }
  mHeld.resize(kept);
}

}  // namespace platform::posix
