// nvk_tree_helper: launches one program for install method 1 as a child
// subreaper and reports that program's whole process tree to the program
// that started it, then ends once the tree has ended, or once the program
// that started it has gone (nobody follows the tree any more).
// Usage: nvk_tree_helper FOLDER PROGRAM [ARGUMENT...], with descriptor 3 a
// SOCK_SEQPACKET socket to the starting program. The helper waits for one
// byte on it (the program now leaves this helper's tree to its reports),
// launches PROGRAM in FOLDER (empty: the current folder) with the arguments
// (PROGRAM is also its argv[0]), and sends TreeReports.
#include <errno.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <vector>

#include "platform/posix/base/proc_scan.h"
#include "platform/posix/base/unique_fd.h"
#include "platform/posix/launch/spawn.h"
#include "platform/posix/tree/tree_follower.h"

extern char** environ;

namespace {

using platform::posix::FollowerSystem;
using platform::posix::ProcInfo;
using platform::posix::TreeReport;
using platform::posix::UniqueFd;

constexpr int kChannel = 3;
// Between two looks for new processes of the tree; ends are seen at once.
constexpr int kScanMilliseconds = 200;
// Descriptors that watches leave free, so that a scan of /proc can always
// open what it reads: members beyond them are followed by the scans alone.
constexpr int kScanReserve = 8;

UniqueFd PidfdOpen(pid_t pid) { return UniqueFd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0))); }

// Sends one report, with a descriptor attached when one is given.
void Send(const TreeReport& report, int attached = -1) {
  iovec data{const_cast<TreeReport*>(&report), sizeof report};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (attached >= 0) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &attached, sizeof(int));
  }
  // A program that has gone no longer listens: the tree is still reaped.
  while (sendmsg(kChannel, &message, MSG_NOSIGNAL) < 0 && errno == EINTR) {
  }
}

class HelperSystem final : public FollowerSystem {
 public:
  explicit HelperSystem(int descriptorLimit) : mDescriptorLimit(descriptorLimit) {}

  void Keep(std::uint32_t id, UniqueFd pidfd) { mWatched[id] = std::move(pidfd); }

  std::uint32_t OwnId() override { return static_cast<std::uint32_t>(getpid()); }
  // A scan that does not list this very process could not read /proc.
  bool Scan(std::vector<ProcInfo>& scan) override {
    scan = platform::posix::ScanProcesses(platform::posix::ProcNames::Skip);
    const std::uint32_t own = OwnId();
    return std::any_of(scan.begin(), scan.end(), [own](const ProcInfo& info) { return info.Id == own; });
  }
  std::string NameOf(std::uint32_t id) override { return platform::posix::ReadProcName(id); }

  bool Watch(std::uint32_t id, std::uint64_t startTicks) override {
    UniqueFd pidfd = PidfdOpen(static_cast<pid_t>(id));
    // The lowest free descriptor comes back: one among the last few is refused.
    if (!pidfd.IsValid() || pidfd.Get() >= mDescriptorLimit - kScanReserve) return false;
    // Read after the open: the pidfd is of this very process, not of a later
    // one under the same id.
    ProcInfo info;
    if (!platform::posix::ReadProcStat(id, info) || info.StartTicks != startTicks || info.Zombie) return false;
    mWatched[id] = std::move(pidfd);
    return true;
  }
  void Unwatch(std::uint32_t id) override { mWatched.erase(id); }

  std::vector<std::uint32_t> EndedWatched(int milliseconds) override {
    std::vector<pollfd> polled;
    std::vector<std::uint32_t> ids;
    for (const auto& [id, pidfd] : mWatched) {
      polled.push_back(pollfd{pidfd.Get(), POLLIN, 0});
      ids.push_back(id);
    }
    std::vector<std::uint32_t> ended;
    if (poll(polled.data(), polled.size(), milliseconds) <= 0) return ended;
    for (std::size_t i = 0; i < polled.size(); ++i) {
      if (polled[i].revents != 0) ended.push_back(ids[i]);
    }
    return ended;
  }

  Reaped ReapOne() override {
    for (;;) {
      siginfo_t info{};
      if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG) < 0) {
        if (errno == EINTR) continue;
        return Reaped{Reaped::Kind::NoChildren, 0};
      }
      if (info.si_pid == 0) return Reaped{Reaped::Kind::NoneEnded, 0};
      return Reaped{Reaped::Kind::Child, static_cast<std::uint32_t>(info.si_pid)};
    }
  }

  void Report(const TreeReport& report) override { Send(report); }

 private:
  const int mDescriptorLimit;
  std::map<std::uint32_t, UniqueFd> mWatched;
};

// The number of descriptors this process may have, as many as allowed: one
// per watched process of the tree.
int RaiseDescriptorLimit() {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0) return 1024;
  if (files.rlim_cur < files.rlim_max) {
    const rlim_t before = files.rlim_cur;
    files.rlim_cur = files.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &files) != 0) files.rlim_cur = before;
  }
  return files.rlim_cur > static_cast<rlim_t>(INT_MAX) ? INT_MAX : static_cast<int>(files.rlim_cur);
}

// Whether the starting program has closed its end of the socket (it has
// ended, or no longer takes reports).
bool ProgramGone() {
  pollfd peer{kChannel, POLLRDHUP, 0};
  return poll(&peer, 1, 0) > 0 && (peer.revents & (POLLHUP | POLLRDHUP)) != 0;
}

void ReportLaunchFailed(int error) {
  TreeReport report;
  report.What = TreeReport::Kind::LaunchFailed;
  report.Id = static_cast<std::uint32_t>(error);
  Send(report);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const int descriptorLimit = RaiseDescriptorLimit();
  // Orphans of the tree come here from now on, whatever sessions they make.
  if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
    ReportLaunchFailed(errno);
    return 1;
  }
  char go = 0;
  ssize_t received = 0;
  while ((received = recv(kChannel, &go, 1, 0)) < 0 && errno == EINTR) {
  }
  if (received != 1) return 1;  // the program went away before the launch
  // The go-ahead is sent as soon as this helper has been started: a program
  // that has ended since (killed while it waited for the answer) left it
  // behind, and nobody would follow what this helper launched.
  if (ProgramGone()) return 1;

  platform::posix::SpawnSettings settings;
  settings.ChangeDirectory(argv[1]);
  if (!settings.Ready()) {
    ReportLaunchFailed(errno);
    return 1;
  }
  pid_t pid = 0;
  const int failure = posix_spawn(&pid, argv[2], settings.Actions(), settings.Attributes(), argv + 2, environ);
  if (failure != 0) {
    ReportLaunchFailed(failure);
    return 1;
  }
  // An unreaped child stays openable and readable: this works even when it
  // has already ended.
  UniqueFd pidfd = PidfdOpen(pid);
  ProcInfo info;
  platform::posix::ReadProcStat(static_cast<std::uint32_t>(pid), info);
  TreeReport launched;
  launched.What = TreeReport::Kind::Launched;
  launched.Id = static_cast<std::uint32_t>(pid);
  Send(launched, pidfd.Get());

  HelperSystem system(descriptorLimit);
  const bool watched = pidfd.IsValid();
  if (watched) system.Keep(static_cast<std::uint32_t>(pid), std::move(pidfd));
  platform::posix::TreeFollower follower(system, static_cast<std::uint32_t>(pid), info.StartTicks, watched,
                                         kScanMilliseconds);
  // Once the program has gone, the tree's processes run on as those of a
  // plain launch do: its orphans go to the system, as they would without
  // this helper, rather than to a helper that nobody listens to.
  while (follower.Round()) {
    if (ProgramGone()) break;
  }
  return 0;
}
