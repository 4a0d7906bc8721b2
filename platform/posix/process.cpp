// Process services on Linux with the results Windows gives: posix_spawn with
// the Windows argument rules, pidfds as waitable handles in the handle table,
// /proc as the process list; launched children whose handle is closed while
// they run go to the reaper.
#include <errno.h>
#include <limits.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/argv.h"
#include "platform/clock.h"
#include "platform/posix/base/proc_scan.h"
#include "platform/posix/base/unique_fd.h"
#include "platform/posix/events/process_events.h"
#include "platform/posix/files/paths.h"
#include "platform/posix/launch/handle_table.h"
#include "platform/posix/launch/launch_path.h"
#include "platform/posix/launch/reaper.h"
#include "platform/posix/launch/spawn.h"
#include "platform/posix/tree/followed_launch.h"
#include "platform/process.h"
#include "platform/text.h"

extern char** environ;

namespace platform {
namespace {

constexpr PrivilegeId kDebugPrivilege = 20;
// How often a wait on a followed tree's member looks whether its stop came.
constexpr std::int64_t kFollowedMemberPollMs = 10;

posix::UniqueFd PidfdOpen(pid_t pid) { return posix::UniqueFd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0))); }

class ProcessObject final : public posix::HandleObject {
 public:
  ProcessObject(posix::UniqueFd pidfd, pid_t pid, bool launched)
      : mPidfd(std::move(pidfd)), mPid(pid), mLaunched(launched) {}
  // A program launched by the tree helper: not a child of this process, and
  // ended once its followed run says so.
  ProcessObject(posix::UniqueFd pidfd, pid_t pid, std::shared_ptr<posix::FollowedRun> run)
      : mPidfd(std::move(pidfd)), mPid(pid), mLaunched(false), mRun(std::move(run)) {}
  ~ProcessObject() override {
    // A launched child is reaped when its launch handle goes, at once if it
    // has ended, otherwise by the reaper; an opened process is only let go.
    if (mLaunched && !posix::TryReap(mPidfd.Get())) posix::Reaper::Instance().Collect(std::move(mPidfd));
  }
  ProcessObject(const ProcessObject&) = delete;
  ProcessObject& operator=(const ProcessObject&) = delete;

  // Opened as a member of a followed tree whose stop had not been delivered.
  void MarkFollowedMember() { mFollowedMember = true; }
  bool FollowedMember() const { return mFollowedMember; }

  int Pidfd() const { return mPidfd.Get(); }
  // What a wait polls: readable once the process counts as ended.
  int EndDescriptor() const { return mRun != nullptr ? mRun->EndDescriptor() : mPidfd.Get(); }
  pid_t Pid() const { return mPid; }
  bool Launched() const { return mLaunched; }

 private:
  posix::UniqueFd mPidfd;
  const pid_t mPid;
  const bool mLaunched;
  const std::shared_ptr<posix::FollowedRun> mRun;
  bool mFollowedMember = false;
};

class SnapshotObject final : public posix::HandleObject {
 public:
  explicit SnapshotObject(std::vector<ProcessEntry> entries) : mEntries(std::move(entries)) {}

  bool Read(bool first, ProcessEntry& entry) {
    std::lock_guard<std::mutex> lock(mMutex);
    if (first) mNext = 0;
    if (mNext >= mEntries.size()) {
      errno = ENOENT;  // as ERROR_NO_MORE_FILES
      return false;
    }
    entry = mEntries[mNext++];
    return true;
  }

 private:
  std::mutex mMutex;
  const std::vector<ProcessEntry> mEntries;
  std::size_t mNext = 0;
};

class TokenObject final : public posix::HandleObject {};

// The process list as a snapshot gives it: running processes only (a
// zombie has ended), with their executable names.
std::vector<ProcessEntry> ListProcesses() {
  std::vector<ProcessEntry> entries;
  for (const posix::ProcInfo& info : posix::ScanProcesses()) {
    if (info.Zombie) continue;
    entries.push_back(ProcessEntry{info.Id, AnsiToWide(info.Name)});
  }
  return entries;
}

class PosixProcesses final : public ProcessServices {
 public:
  bool Launch(const LaunchRecord& record, Handle* process) override {
    *process = nullptr;
    // A path beyond the system's limit fails as a missing file does.
    if (posix::FileSystemPath(record.File).size() >= PATH_MAX) {
      errno = ENOENT;
      return false;
    }
    const std::string file = posix::ResolveLaunchPath(record.File);
    const std::string directory = record.Directory.empty() ? std::string() : posix::ResolveLaunchPath(record.Directory);
    if (file.empty()) {
      errno = ENOENT;
      return false;
    }
    std::vector<std::string> arguments{file};
    for (const std::u16string& argument : SplitWindowsArguments(record.Parameters)) {
      arguments.push_back(WideToAnsi(argument));
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    if (record.FollowTree && posix::CurrentProcessEvents().Origin() == posix::ProcessEventOrigin::Polling) {
      const std::string helper = posix::TreeHelperPath();
      if (!helper.empty()) return LaunchFollowed(helper, directory, arguments, process);
    }

    posix::SpawnSettings settings;
    settings.ChangeDirectory(directory);
    if (!settings.Ready()) return false;
    pid_t pid = 0;
    const int failure = posix_spawn(&pid, file.c_str(), settings.Actions(), settings.Attributes(), argv.data(), environ);
    if (failure != 0) {
      errno = failure;
      return false;
    }
    posix::UniqueFd pidfd = PidfdOpen(pid);
    if (!pidfd.IsValid()) {
      // Launched, but without a handle (as Windows may report): the child is
      // still collected when it ends.
      posix::ReapWhenEnded(pid);
      return true;
    }
    *process = mHandles.Add(std::make_shared<ProcessObject>(std::move(pidfd), pid, true));
    return true;
  }

  ProcessId ProcessIdOf(Handle process) override {
    const auto object = mHandles.Find<ProcessObject>(process);
    return object == nullptr ? 0 : static_cast<ProcessId>(object->Pid());
  }

  // The thread group's id: the /proc entry of the process, whichever thread asks.
  ProcessId OwnProcessId() override { return static_cast<ProcessId>(getpid()); }

  Handle OpenProcessById(ProcessId id) override {
    if (id == 0 || id > 0x7FFFFFFFu) {
      errno = EINVAL;
      return nullptr;
    }
    const pid_t pid = static_cast<pid_t>(id);
    posix::UniqueFd pidfd = PidfdOpen(pid);
    // A member of a followed tree runs until the helper's report of its stop
    // has been delivered: only then have the orphans it left been reported.
    if (posix::IsUnstoppedFollowedMember(id)) {
      auto member = std::make_shared<ProcessObject>(std::move(pidfd), pid, false);
      member->MarkFollowedMember();
      return mHandles.Add(std::move(member));
    }
    if (!pidfd.IsValid()) return nullptr;
    // An ended process that nobody reaps (an orphan: process 1 may not reap)
    // is gone; only a launched child whose launch handle is still held stays
    // openable until that handle is closed.
    posix::ProcInfo info;
    const bool running = posix::ReadProcStat(id, info) && !info.Zombie;
    if (!running && !mHandles.Any<ProcessObject>([pid](const ProcessObject& held) {
          return held.Launched() && held.Pid() == pid;
        })) {
      errno = ESRCH;
      return nullptr;
    }
    return mHandles.Add(std::make_shared<ProcessObject>(std::move(pidfd), pid, false));
  }

  bool ProcessStartTime(Handle process, std::uint64_t* startTime) override {
    const auto object = mHandles.Find<ProcessObject>(process);
    if (object == nullptr) return false;
    if (object->FollowedMember() && posix::IsUnstoppedFollowedMember(static_cast<std::uint32_t>(object->Pid()))) {
      // Its process may be gone already; to the tree it is the member that joined.
      *startTime = 0;
      return true;
    }
    posix::ProcInfo info;
    if (!posix::ReadProcStat(static_cast<std::uint32_t>(object->Pid()), info)) {
      errno = ESRCH;
      return false;
    }
    *startTime = info.StartTicks;
    return true;
  }
  // The kernel counts a process's start on the boot-time clock, cut to whole
  // ticks; so is this.
  std::uint64_t ProcessClockNow() override {
    static const std::uint64_t ticksPerSecond = static_cast<std::uint64_t>(sysconf(_SC_CLK_TCK));
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * ticksPerSecond +
           static_cast<std::uint64_t>(now.tv_nsec) / (1'000'000'000u / ticksPerSecond);
  }

  std::uint32_t Wait(Handle process, std::uint32_t milliseconds) override {
    // Checked first: a poll without a descriptor would sleep the whole time.
    const auto object = mHandles.Find<ProcessObject>(process);
    if (object == nullptr) return kWaitFailed;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::int64_t deadline = Milliseconds(now) + milliseconds;
    if (object->FollowedMember()) {
      while (posix::IsUnstoppedFollowedMember(static_cast<std::uint32_t>(object->Pid()))) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        const std::int64_t left = deadline - Milliseconds(now);
        if (left <= 0) return kWaitTimeout;
        SystemClock().Sleep(static_cast<std::uint32_t>(std::min<std::int64_t>(left, kFollowedMemberPollMs)));
      }
      // Its stop has been delivered: ended, whether or not a descriptor was had.
      if (object->EndDescriptor() < 0) return kWaitObject0;
    }
    for (;;) {
      clock_gettime(CLOCK_MONOTONIC, &now);
      const std::int64_t left = std::max<std::int64_t>(0, deadline - Milliseconds(now));
      pollfd polled{object->EndDescriptor(), POLLIN, 0};
      const int ready = poll(&polled, 1, static_cast<int>(left));
      if (ready > 0) return kWaitObject0;
      if (ready == 0) return kWaitTimeout;
      if (errno != EINTR) return kWaitFailed;
    }
  }

  void CloseHandle(Handle handle) override {
    if (handle != nullptr) mHandles.Remove(handle);
  }

  Handle SnapshotProcesses() override { return mHandles.Add(std::make_shared<SnapshotObject>(ListProcesses())); }

  bool FirstProcess(Handle snapshot, ProcessEntry& entry) override { return Read(snapshot, true, entry); }
  bool NextProcess(Handle snapshot, ProcessEntry& entry) override { return Read(snapshot, false, entry); }

  std::uint32_t LastError() override { return static_cast<std::uint32_t>(errno); }

  // Opening another account's process needs no privilege here: the step counts as done.
  bool OpenOwnProcessToken(Handle* token) override {
    *token = mHandles.Add(std::make_shared<TokenObject>());
    return true;
  }
  bool LookupDebugPrivilege(PrivilegeId* privilege) override {
    *privilege = kDebugPrivilege;
    return true;
  }
  void EnablePrivilege(Handle, PrivilegeId) override {}

 private:
  // Without root, /proc scans would miss short-lived processes and lose
  // orphans: the tree helper launches the program and reports its tree.
  bool LaunchFollowed(const std::string& helper, const std::string& directory,
                      const std::vector<std::string>& arguments, Handle* process) {
    posix::FollowedLaunch launched;
    if (!posix::LaunchFollowed(helper, directory, arguments, launched)) return false;
    if (launched.Run == nullptr) {
      *process = mHandles.Add(std::make_shared<ProcessObject>(std::move(launched.Pidfd), launched.Pid, false));
    } else {
      *process = mHandles.Add(
          std::make_shared<ProcessObject>(std::move(launched.Pidfd), launched.Pid, std::move(launched.Run)));
    }
    return true;
  }

  static std::int64_t Milliseconds(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000 + time.tv_nsec / 1000000;
  }

  bool Read(Handle snapshot, bool first, ProcessEntry& entry) {
    const auto object = mHandles.Find<SnapshotObject>(snapshot);
    return object != nullptr && object->Read(first, entry);
  }

  posix::HandleTable mHandles;
};

}  // namespace

ProcessServices& SystemProcesses() {
  static PosixProcesses* processes = new PosixProcesses();  // lives for the whole process
  return *processes;
}

}  // namespace platform
