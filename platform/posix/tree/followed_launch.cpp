// The program's side of a followed launch: starting the tree helper, its
// first answer, and the thread that hands its reports to the event service.
#include "platform/posix/tree/followed_launch.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "platform/posix/events/process_events.h"
#include "platform/posix/launch/spawn.h"
#include "platform/posix/tree/tree_follower.h"

extern char** environ;

namespace platform::posix {
namespace {

constexpr const char* kHelperName = "nvk_tree_helper";

// The processes of every followed run that were reported started and whose
// stops have not been delivered yet, with how many runs hold each id.
class UnstoppedMembers {
 public:
  static UnstoppedMembers& Instance() {
    static UnstoppedMembers* const members = new UnstoppedMembers();  // lives for the process
    return *members;
  }
  void Add(std::uint32_t id) {
    std::lock_guard<std::mutex> lock(mMutex);
    ++mHolders[id];
  }
  void Remove(std::uint32_t id) {
    std::lock_guard<std::mutex> lock(mMutex);
    const auto found = mHolders.find(id);
    if (found != mHolders.end() && --found->second == 0) mHolders.erase(found);
  }
  bool Holds(std::uint32_t id) {
    std::lock_guard<std::mutex> lock(mMutex);
    return mHolders.count(id) != 0;
  }

 private:
  std::mutex mMutex;
  std::unordered_map<std::uint32_t, int> mHolders;
};

// One report from the helper; false at the socket's end or on a failure.
// A descriptor sent along goes to *attached.
bool Receive(int socket, TreeReport& report, UniqueFd* attached) {
  iovec data{&report, sizeof report};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t received = 0;
  while ((received = recvmsg(socket, &message, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
  }
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
    int descriptor = -1;
    std::memcpy(&descriptor, CMSG_DATA(header), sizeof descriptor);
    UniqueFd owned(descriptor);
    if (attached != nullptr) *attached = std::move(owned);
  }
  return received == static_cast<ssize_t>(sizeof report);
}

void ReapHelper(pid_t helper) {
  while (waitpid(helper, nullptr, 0) < 0 && errno == EINTR) {
  }
}

ProcessEvent ToEvent(const TreeReport& report) {
  ProcessEvent event;
  event.Kind = report.What == TreeReport::Kind::Stop ? ProcessEventKind::Stop : ProcessEventKind::Start;
  event.ProcessId = report.Id;
  event.ParentProcessId = report.Parent;
  event.ProcessName.assign(report.Name, strnlen(report.Name, sizeof report.Name));
  return event;
}

// The reader thread: the helper's reports, in order, to the event service;
// the launched program's stop marks the run ended once delivered. At the
// helper's end the tree is left to the service's own source again and the
// helper is reaped; a helper that ended without reporting the program's stop
// leaves the program's own end to be waited for.
void ReadReports(UniqueFd socket, pid_t helper, pid_t launched, UniqueFd pidfd,
                 const std::shared_ptr<FollowedRun>& run) {
  bool stopReported = false;
  // This run's members whose stops have not come yet.
  std::unordered_multiset<std::uint32_t> running;
  TreeReport report;
  while (Receive(socket.Get(), report, nullptr)) {
    if (report.What != TreeReport::Kind::Start && report.What != TreeReport::Kind::Stop) continue;
    std::function<void()> delivered;
    const std::uint32_t id = report.Id;
    if (report.What == TreeReport::Kind::Start) {
      running.insert(id);
      UnstoppedMembers::Instance().Add(id);
    } else if (const auto member = running.find(id); member != running.end()) {
      // The member counts as ended once its stop has reached the subscribers.
      running.erase(member);
      delivered = [id] { UnstoppedMembers::Instance().Remove(id); };
    }
    if (report.What == TreeReport::Kind::Stop && id == static_cast<std::uint32_t>(launched) && !stopReported) {
      stopReported = true;
      delivered = [run, first = std::move(delivered)] {
        if (first) first();
        run->MarkEnded();
      };
    }
    CurrentProcessEvents().Report({ToEvent(report)}, std::move(delivered));
  }
  // A helper that ended without reporting some stops leaves those processes
  // to what the system shows of them.
  for (const std::uint32_t id : running) UnstoppedMembers::Instance().Remove(id);
  CurrentProcessEvents().EndLeaveOutTree(static_cast<std::uint32_t>(helper));
  ReapHelper(helper);
  if (stopReported) return;
  pollfd polled{pidfd.Get(), POLLIN, 0};
  while (pidfd.IsValid() && poll(&polled, 1, -1) < 0 && errno == EINTR) {
  }
  run->MarkEnded();
}

}  // namespace

bool IsUnstoppedFollowedMember(std::uint32_t id) { return UnstoppedMembers::Instance().Holds(id); }

FollowedRun::FollowedRun() : mEnd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void FollowedRun::MarkEnded() const {
  const std::uint64_t one = 1;
  while (write(mEnd.Get(), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

std::string TreeHelperPath() {
  char own[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", own, sizeof own - 1);
  if (length <= 0) return {};
  std::string path(own, static_cast<std::size_t>(length));
  path = path.substr(0, path.rfind('/') + 1) + kHelperName;
  return access(path.c_str(), X_OK) == 0 ? path : std::string();
}

bool LaunchFollowed(const std::string& helper, const std::string& directory, const std::vector<std::string>& argv,
                    FollowedLaunch& launched) {
  auto run = std::make_shared<FollowedRun>();
  if (run->EndDescriptor() < 0) return false;
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return false;
  UniqueFd mine(ends[0]);
  UniqueFd theirs(ends[1]);

  std::vector<std::string> arguments{helper, directory};
  arguments.insert(arguments.end(), argv.begin(), argv.end());
  std::vector<char*> helperArgv;
  for (std::string& argument : arguments) helperArgv.push_back(argument.data());
  helperArgv.push_back(nullptr);
  SpawnSettings settings(theirs.Get());
  if (!settings.Ready()) return false;
  pid_t helperPid = 0;
  const int failure =
      posix_spawn(&helperPid, helper.c_str(), settings.Actions(), settings.Attributes(), helperArgv.data(), environ);
  if (failure != 0) {
    errno = failure;
    return false;
  }
  theirs.Close();

  // The service's own source must not see the tree before the helper's
  // reports take its place: the helper launches only after this go-ahead.
  CurrentProcessEvents().LeaveOutTree(static_cast<std::uint32_t>(helperPid));
  const char go = 1;
  while (send(mine.Get(), &go, 1, MSG_NOSIGNAL) < 0 && errno == EINTR) {
  }
  TreeReport first;
  UniqueFd pidfd;
  const bool answered = Receive(mine.Get(), first, &pidfd);
  if (!answered || first.What != TreeReport::Kind::Launched) {
    const int error = answered && first.What == TreeReport::Kind::LaunchFailed ? static_cast<int>(first.Id) : ECHILD;
    mine.Close();
    CurrentProcessEvents().EndLeaveOutTree(static_cast<std::uint32_t>(helperPid));
    ReapHelper(helperPid);
    errno = error;
    return false;
  }

  launched.Pid = static_cast<pid_t>(first.Id);
  launched.Run = run;
  UniqueFd readerPidfd(pidfd.IsValid() ? fcntl(pidfd.Get(), F_DUPFD_CLOEXEC, 0) : -1);
  launched.Pidfd = std::move(pidfd);
  try {
    std::thread(ReadReports, std::move(mine), helperPid, launched.Pid, std::move(readerPidfd), run).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the service's source follows the tree again and
    // the handle waits for the program itself; the helper, whose reports
    // nobody takes, ends and is reaped.
    CurrentProcessEvents().EndLeaveOutTree(static_cast<std::uint32_t>(helperPid));
    launched.Run = nullptr;
    ReapWhenEnded(helperPid);
  }
  return true;
}

}  // namespace platform::posix
