// The source loops: the monitor's source thread finds process starts and
// stops either by reading the kernel's process connector or by scanning /proc
// at an interval. Both keep a KnownProcesses up to date and hand their events
// on in order.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/posix/base/unique_fd.h"
#include "platform/posix/events/known_processes.h"
#include "platform/posix/events/process_connector.h"
#include "platform/posix/events/process_events.h"

namespace platform::posix {

// What a source loop shares with the thread that stops it. Stop may be
// called from any thread; the rest belongs to the source thread.
class SourceLoopControl {
 public:
  // events: receives each batch the source found, in order (called on the
  // source thread). stalled and resyncs are the monitor's source probe and
  // outlive this object.
  SourceLoopControl(std::function<void(std::vector<ProcessEvent>&)> events, const std::atomic<bool>& stalled,
                std::atomic<std::uint64_t>& resyncs);
  ~SourceLoopControl();
  SourceLoopControl(const SourceLoopControl&) = delete;
  SourceLoopControl& operator=(const SourceLoopControl&) = delete;

  // Asks the loop to end and wakes it.
  void Stop();

  // False when the wake-up descriptor could not be made: the loop could not be stopped.
  bool Usable() const { return mWake.IsValid(); }
  bool Stopping() const { return mStopping.load(std::memory_order_acquire); }
  // Readable once Stop has been called.
  int WakeDescriptor() const { return mWake.Get(); }
  // Returns once not stalled; false when stopping.
  bool WaitWhileStalled() const;
  bool Stalled() const { return mStalled.load(std::memory_order_acquire); }
  // Hands the events on (and clears them); nothing for none.
  void Hand(std::vector<ProcessEvent>& events) const;
  void CountResync() const { mResyncs.fetch_add(1, std::memory_order_relaxed); }

 private:
  const std::function<void(std::vector<ProcessEvent>&)> mEvents;
  const std::atomic<bool>& mStalled;
  std::atomic<std::uint64_t>& mResyncs;
  std::atomic<bool> mStopping{false};
  const UniqueFd mWake;
};

// Reads the connector until stopped; known must already hold the processes
// that ran when listening began. After the kernel dropped reports it reads
// what is still queued, then brings known to a /proc scan, so that no stop
// of a known process is lost. Returns true when stopped, false when the
// socket failed (the caller goes on by polling).
// After the first report it waits `gather` for more, then reads them all.
bool RunConnectorSource(ProcessConnector& connector, std::chrono::milliseconds gather, KnownProcesses& known,
                        const SourceLoopControl& control);

// Scans /proc every interval until stopped, handing on the differences.
// known holds what was known when polling began.
void RunPollingSource(std::chrono::milliseconds interval, KnownProcesses& known, const SourceLoopControl& control);

}  // namespace platform::posix
