// The reaper of launched children whose launch handle was closed while they
// still ran: nothing else in the process waits for children, so each is
// reaped here once it ends and never stays behind as a zombie.
#pragma once

#include <mutex>
#include <thread>
#include <vector>

#include "platform/posix/base/unique_fd.h"

namespace platform::posix {

// Reaps the child behind the pidfd if it has ended. True when it is gone
// (reaped now, or not a child of this process to reap).
bool TryReap(int pidfd);

// One thread that polls the pidfds handed to it and reaps each child as it
// ends. It is woken through an eventfd when a child is handed over; without
// one (the eventfd could not be made) it looks for handed-over children at
// a bounded interval instead.
class Reaper {
 public:
  // How often a reaper without a wake-up descriptor looks for new children.
  static constexpr int kFallbackPollMilliseconds = 100;

  // The process's reaper, started on first use and never destroyed: its
  // thread runs to the end of the process.
  static Reaper& Instance();

  // A wake-up descriptor for a reaper; none when the eventfd cannot be made.
  static UniqueFd MakeWake();

  // Starts the thread. wake may be empty: the reaper then polls.
  explicit Reaper(UniqueFd wake);
  // Stops and joins the thread; children not yet reaped are let go unreaped.
  ~Reaper();
  Reaper(const Reaper&) = delete;
  Reaper& operator=(const Reaper&) = delete;

  // Takes over the pidfd of a launched child. Does not block. Any thread.
  void Collect(UniqueFd pidfd);

 private:
  void Wake();
  void Loop();

  const UniqueFd mWake;
  std::mutex mMutex;
  std::vector<UniqueFd> mIncoming;  // guarded by mMutex
  bool mStopping = false;           // guarded by mMutex
  std::thread mThread;
};

}  // namespace platform::posix
