// The reaper's thread: a poll over the wake-up descriptor and the pidfds of
// the children it waits for.
#include "platform/posix/launch/reaper.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <iterator>

namespace platform::posix {

bool TryReap(int pidfd) {
  siginfo_t info{};
  if (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &info, WEXITED | WNOHANG) != 0) {
    return errno != EINTR;
  }
  return info.si_pid != 0;
}

Reaper& Reaper::Instance() {
  static Reaper* reaper = new Reaper(MakeWake());  // never destroyed: its thread runs to the end
  return *reaper;
}

UniqueFd Reaper::MakeWake() { return UniqueFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)); }

Reaper::Reaper(UniqueFd wake) : mWake(std::move(wake)) {
  mThread = std::thread([this] { Loop(); });
}

Reaper::~Reaper() {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mStopping = true;
  }
  Wake();
  mThread.join();
}

void Reaper::Collect(UniqueFd pidfd) {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mIncoming.push_back(std::move(pidfd));
  }
  Wake();
}

void Reaper::Wake() {
  if (!mWake.IsValid()) return;  // the loop looks again within its bounded pause
  const std::uint64_t one = 1;
  while (write(mWake.Get(), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void Reaper::Loop() {
  // Without a wake-up descriptor a poll may not wait for ever: nothing would
  // end it when a child is handed over.
  const int pause = mWake.IsValid() ? -1 : kFallbackPollMilliseconds;
  std::vector<UniqueFd> waiting;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mMutex);
      if (mStopping) return;
      std::move(mIncoming.begin(), mIncoming.end(), std::back_inserter(waiting));
      mIncoming.clear();
    }
    // Entry 0 is the wake-up descriptor; poll skips it when there is none (-1).
    std::vector<pollfd> polled{{mWake.Get(), POLLIN, 0}};
    for (const UniqueFd& pidfd : waiting) polled.push_back({pidfd.Get(), POLLIN, 0});
    if (poll(polled.data(), polled.size(), pause) < 0) continue;
    if (polled[0].revents != 0) {
      std::uint64_t count = 0;
      while (read(mWake.Get(), &count, sizeof count) < 0 && errno == EINTR) {
      }
    }
    // Reaped children leave the list (their pidfds close); the order of the rest is kept.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < waiting.size(); ++i) {
      if (polled[i + 1].revents != 0 && TryReap(waiting[i].Get())) continue;
      if (kept != i) waiting[kept] = std::move(waiting[i]);
      ++kept;
    }
    waiting.resize(kept);
  }
}

}  // namespace platform::posix
