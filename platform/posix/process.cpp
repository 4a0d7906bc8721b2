// Process services on Linux with the results Windows gives: posix_spawn with
// the Windows argument rules, pidfds as waitable handles, /proc as the
// process list, and a reaper for launched children whose handle is closed.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/argv.h"
#include "platform/posix/paths.h"
#include "platform/posix/proc_scan.h"
#include "platform/process.h"
#include "platform/text.h"

extern char** environ;

namespace platform {
namespace {

constexpr PrivilegeId kDebugPrivilege = 20;

int PidfdOpen(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

// Reaps the child behind the pidfd if it has ended. True when it is gone
// (reaped now, or not ours to reap).
bool TryReap(int pidfd) {
  siginfo_t info{};
  if (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &info, WEXITED | WNOHANG) != 0) {
    return errno != EINTR;
  }
  return info.si_pid != 0;
}

// Collects launched children that still ran when their handle was closed.
// One thread, started on first use, polls their pidfds and reaps each as it
// ends; it lives until the process ends.
class Reaper {
 public:
  static Reaper& Instance() {
    static Reaper* reaper = new Reaper();  // never destroyed: its thread runs to the end
    return *reaper;
  }

  // Takes over the pidfd of a launched child that has not ended yet. Does not block.
  void Collect(int pidfd) {
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mIncoming.push_back(pidfd);
    }
    const std::uint64_t one = 1;
    while (write(mWake, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }

 private:
  Reaper() : mWake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    std::thread([this] { Loop(); }).detach();
  }

  void Loop() {
    std::vector<int> waiting;
    for (;;) {
      std::vector<pollfd> polled{{mWake, POLLIN, 0}};
      for (int fd : waiting) polled.push_back({fd, POLLIN, 0});
      if (poll(polled.data(), polled.size(), -1) < 0) continue;
      if (polled[0].revents != 0) {
        std::uint64_t count = 0;
        while (read(mWake, &count, sizeof count) < 0 && errno == EINTR) {
        }
        std::lock_guard<std::mutex> lock(mMutex);
        waiting.insert(waiting.end(), mIncoming.begin(), mIncoming.end());
        mIncoming.clear();
      }
      for (std::size_t i = 1; i < polled.size(); ++i) {
        if (polled[i].revents == 0 || !TryReap(polled[i].fd)) continue;
        close(polled[i].fd);
        waiting.erase(std::find(waiting.begin(), waiting.end(), polled[i].fd));
      }
    }
  }

  const int mWake;
  std::mutex mMutex;
  std::vector<int> mIncoming;
};

// What a handle stands for. Destroyed when its handle is closed and no call
// that uses it is still running.
class HandleObject {
 public:
  virtual ~HandleObject() = default;
};

class ProcessObject final : public HandleObject {
 public:
  ProcessObject(int pidfd, pid_t pid, bool launched) : mPidfd(pidfd), mPid(pid), mLaunched(launched) {}
  ~ProcessObject() override {
    // A launched child is reaped when its launch handle goes, at once if it
    // has ended, otherwise by the reaper; an opened process is only let go.
    if (mLaunched && !TryReap(mPidfd)) {
      Reaper::Instance().Collect(mPidfd);
    } else {
      close(mPidfd);
    }
  }
  ProcessObject(const ProcessObject&) = delete;
  ProcessObject& operator=(const ProcessObject&) = delete;

  int Pidfd() const { return mPidfd; }
  pid_t Pid() const { return mPid; }
  bool Launched() const { return mLaunched; }

 private:
  const int mPidfd;
  const pid_t mPid;
  const bool mLaunched;
};

class SnapshotObject final : public HandleObject {
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

class TokenObject final : public HandleObject {};

// Handle values are small numbers, as on Windows, never reused, so that a
// stale handle finds nothing instead of another object.
class HandleTable {
 public:
  Handle Add(std::shared_ptr<HandleObject> object) {
    std::lock_guard<std::mutex> lock(mMutex);
    mLast += 4;
    mObjects.emplace(mLast, std::move(object));
    return reinterpret_cast<Handle>(mLast);
  }

  template <class T>
  std::shared_ptr<T> Find(Handle handle) {
    std::lock_guard<std::mutex> lock(mMutex);
    const auto found = mObjects.find(reinterpret_cast<std::uintptr_t>(handle));
    std::shared_ptr<T> object = found == mObjects.end() ? nullptr : std::dynamic_pointer_cast<T>(found->second);
    if (object == nullptr) errno = EBADF;
    return object;
  }

  // True when an object of type T in the table satisfies the predicate.
  template <class T, class Predicate>
  bool Any(Predicate predicate) {
    std::lock_guard<std::mutex> lock(mMutex);
    return std::any_of(mObjects.begin(), mObjects.end(), [&predicate](const auto& entry) {
      const T* object = dynamic_cast<const T*>(entry.second.get());
      return object != nullptr && predicate(*object);
    });
  }

  void Remove(Handle handle) {
    std::shared_ptr<HandleObject> object;  // released after the lock
    std::lock_guard<std::mutex> lock(mMutex);
    const auto found = mObjects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == mObjects.end()) {
      errno = EBADF;
      return;
    }
    object = std::move(found->second);
    mObjects.erase(found);
  }

 private:
  std::mutex mMutex;
  std::uintptr_t mLast = 0;
  std::map<std::uintptr_t, std::shared_ptr<HandleObject>> mObjects;
};

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// The entry of the folder whose name equals name without regard to letter
// case, the first in sorted order; empty when there is none.
std::string FindIgnoringCase(const std::string& folder, const std::string& name) {
  const std::u16string wanted = UpperCase(Utf8ToWide(name));
  std::vector<std::string> matches;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string candidate = entry->d_name;
      if (candidate != "." && candidate != ".." && UpperCase(Utf8ToWide(candidate)) == wanted) {
        matches.push_back(candidate);
      }
    }
    closedir(dir);
  }
  return matches.empty() ? std::string() : *std::min_element(matches.begin(), matches.end());
}

// The launch path as the file system has it. A path that is not there as
// written is matched folder by folder without regard to letter case, an
// exact match winning. What cannot be matched stays as written.
std::string ResolveLaunchPath(std::u16string_view path) {
  const std::string native = posix::FileSystemPath(path);
  if (native.empty() || Exists(native)) return native;
  std::string resolved;
  std::size_t start = 1;
  while (start < native.size()) {
    std::size_t end = native.find('/', start);
    if (end == std::string::npos) end = native.size();
    const std::string name = native.substr(start, end - start);
    const std::string folder = resolved.empty() ? "/" : resolved;
    std::string chosen = name;
    if (!Exists(resolved + "/" + name)) {
      chosen = FindIgnoringCase(folder, name);
      if (chosen.empty()) return native;
    }
    resolved += "/" + chosen;
    start = end + 1;
  }
  if (native.back() == '/') resolved += '/';
  return resolved;
}

// Spawn settings: default handling of every signal (this process ignores
// SIGPIPE), nothing blocked, and no descriptor but 0 to 2 handed on.
class SpawnSettings {
 public:
  explicit SpawnSettings(const std::string& directory) {
    posix_spawnattr_init(&mAttributes);
    // Every signal, the C library's own two (32 and 33) included: sigfillset
    // leaves them out, and the spawn helper would then hand them on ignored
    // whenever this process has handlers for them.
    sigset_t all;
    std::memset(&all, 0xFF, sizeof all);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&mAttributes, &all);
    posix_spawnattr_setsigmask(&mAttributes, &none);
    posix_spawnattr_setflags(&mAttributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    posix_spawn_file_actions_init(&mActions);
    if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&mActions, directory.c_str());
    posix_spawn_file_actions_addclosefrom_np(&mActions, 3);
  }
  ~SpawnSettings() {
    posix_spawn_file_actions_destroy(&mActions);
    posix_spawnattr_destroy(&mAttributes);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

  const posix_spawn_file_actions_t* Actions() const { return &mActions; }
  const posix_spawnattr_t* Attributes() const { return &mAttributes; }

 private:
  posix_spawn_file_actions_t mActions;
  posix_spawnattr_t mAttributes;
};

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
    const std::string file = ResolveLaunchPath(record.File);
    const std::string directory = record.Directory.empty() ? std::string() : ResolveLaunchPath(record.Directory);
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

    const SpawnSettings settings(directory);
    pid_t pid = 0;
    const int failure = posix_spawn(&pid, file.c_str(), settings.Actions(), settings.Attributes(), argv.data(), environ);
    if (failure != 0) {
      errno = failure;
      return false;
    }
    const int pidfd = PidfdOpen(pid);
    if (pidfd < 0) {
      // Launched, but without a handle (as Windows may report): the child is
      // still collected when it ends.
      std::thread([pid] {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
      }).detach();
      return true;
    }
    *process = mHandles.Add(std::make_shared<ProcessObject>(pidfd, pid, true));
    return true;
  }

  ProcessId ProcessIdOf(Handle process) override {
    const auto object = mHandles.Find<ProcessObject>(process);
    return object == nullptr ? 0 : static_cast<ProcessId>(object->Pid());
  }

  Handle OpenProcessById(ProcessId id) override {
    if (id == 0 || id > 0x7FFFFFFFu) {
      errno = EINVAL;
      return nullptr;
    }
    const pid_t pid = static_cast<pid_t>(id);
    const int pidfd = PidfdOpen(pid);
    if (pidfd < 0) return nullptr;
    // An ended process that nobody reaps (an orphan: process 1 may not reap)
    // is gone; only a launched child whose launch handle is still held stays
    // openable until that handle is closed.
    posix::ProcInfo info;
    const bool running = posix::ReadProcStat(id, info) && !info.Zombie;
    if (!running && !mHandles.Any<ProcessObject>([pid](const ProcessObject& held) {
          return held.Launched() && held.Pid() == pid;
        })) {
      close(pidfd);
      errno = ESRCH;
      return nullptr;
    }
    return mHandles.Add(std::make_shared<ProcessObject>(pidfd, pid, false));
  }

  std::uint32_t Wait(Handle process, std::uint32_t milliseconds) override {
    // Checked first: a poll without a descriptor would sleep the whole time.
    const auto object = mHandles.Find<ProcessObject>(process);
    if (object == nullptr) return kWaitFailed;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::int64_t deadline = Milliseconds(now) + milliseconds;
    for (;;) {
      clock_gettime(CLOCK_MONOTONIC, &now);
      const std::int64_t left = std::max<std::int64_t>(0, deadline - Milliseconds(now));
      pollfd polled{object->Pidfd(), POLLIN, 0};
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
  static std::int64_t Milliseconds(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000 + time.tv_nsec / 1000000;
  }

  bool Read(Handle snapshot, bool first, ProcessEntry& entry) {
    const auto object = mHandles.Find<SnapshotObject>(snapshot);
    return object != nullptr && object->Read(first, entry);
  }

  HandleTable mHandles;
};

}  // namespace

ProcessServices& SystemProcesses() {
  static PosixProcesses* processes = new PosixProcesses();  // lives for the whole process
  return *processes;
}

}  // namespace platform
