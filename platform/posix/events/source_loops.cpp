// The connector and polling loops of the event service's source thread.
#include "platform/posix/events/source_loops.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <vector>

#include "platform/posix/events/lingering_processes.h"

namespace platform::posix {
namespace {

using Clock = std::chrono::steady_clock;

// How many events the connector's reader hands on at most at once.
constexpr std::size_t kLargestBatch = 1024;

// Waits until the descriptor is readable, the control's wake descriptor is
// readable, or the time limit (-1: none) has passed.
void WaitForInput(int descriptor, const SourceLoopControl& control, int milliseconds) {
  pollfd polled[2] = {{control.WakeDescriptor(), POLLIN, 0}, {descriptor, POLLIN, 0}};
  const nfds_t count = descriptor >= 0 ? 2 : 1;
  while (poll(polled, count, milliseconds) < 0 && errno == EINTR) {
  }
}

// The same, and also until a lingering process has ended.
void WaitForInput(int descriptor, const LingeringProcesses& lingering, const SourceLoopControl& control,
                  int milliseconds) {
  if (lingering.Empty()) return WaitForInput(descriptor, control, milliseconds);
  std::vector<pollfd> polled{{control.WakeDescriptor(), POLLIN, 0}, {descriptor, POLLIN, 0}};
  lingering.AddTo(polled);
  while (poll(polled.data(), polled.size(), milliseconds) < 0 && errno == EINTR) {
  }
}

// The held reports of lingering processes that have ended by now.
void ReleaseEnded(LingeringProcesses& lingering, KnownProcesses& known, std::vector<ProcessEvent>& events) {
  if (lingering.Empty()) return;
  std::vector<pollfd> polled;
  lingering.AddTo(polled);
  if (poll(polled.data(), polled.size(), 0) > 0) lingering.Release(polled, 0, known, events);
}

void Apply(const std::vector<KernelProcessEvent>& reports, KnownProcesses& known, LingeringProcesses& lingering,
           std::vector<ProcessEvent>& events) {
  for (const KernelProcessEvent& report : reports) {
    if (report.What == KernelProcessEvent::Type::Fork) {
      known.Started(report.Id, report.Parent, report.Ticks, events);
    } else if (!lingering.Hold(report)) {
      known.Ended(report.Id, report.Ticks, events);
    }
  }
}

}  // namespace

SourceLoopControl::SourceLoopControl(std::function<void(std::vector<ProcessEvent>&)> events,
                                     const std::atomic<bool>& stalled, std::atomic<std::uint64_t>& resyncs)
    : mEvents(std::move(events)), mStalled(stalled), mResyncs(resyncs), mWake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

SourceLoopControl::~SourceLoopControl() = default;

void SourceLoopControl::Stop() {
  mStopping.store(true, std::memory_order_release);
  const std::uint64_t one = 1;
  while (write(mWake.Get(), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

bool SourceLoopControl::WaitWhileStalled() const {
  while (Stalled() && !Stopping()) WaitForInput(-1, *this, 20);
  return !Stopping();
}

void SourceLoopControl::Hand(std::vector<ProcessEvent>& events) const {
  if (events.empty()) return;
  mEvents(events);
  events.clear();
}

bool RunConnectorSource(ProcessConnector& connector, std::chrono::milliseconds gather, KnownProcesses& known,
                        const SourceLoopControl& control) {
  std::vector<KernelProcessEvent> reports;
  std::vector<ProcessEvent> events;
  LingeringProcesses lingering;
  while (control.WaitWhileStalled()) {
    WaitForInput(connector.Descriptor(), lingering, control, -1);
    // A burst gathers for a moment: one pass over many reports costs far
    // less than a wake-up of both threads for each.
    if (gather.count() > 0) WaitForInput(-1, control, static_cast<int>(gather.count()));
    bool dropped = false;
    // Everything queued, handed on together (or in batches of a bounded
    // size); after a loss, to the end of the queue even when stalled meanwhile.
    while (!control.Stopping() && (dropped || !control.Stalled())) {
      const ProcessConnector::ReadResult result = connector.ReadOne(reports);
      if (result == ProcessConnector::ReadResult::Empty) break;
      if (result == ProcessConnector::ReadResult::Failed) {
        control.Hand(events);
        return false;
      }
      if (result == ProcessConnector::ReadResult::Overflow) {
        dropped = true;
        continue;
      }
      Apply(reports, known, lingering, events);
      reports.clear();
      if (events.size() >= kLargestBatch) control.Hand(events);
    }
    // After every report queued before: the processes' last reports.
    ReleaseEnded(lingering, known, events);
    control.Hand(events);
    if (dropped) {
      // What was queued before the loss has been read: the scan now tells
      // which known processes ended unseen and which started unseen.
      control.CountResync();
      known.Resync(ScanProcesses(ProcNames::Skip), events);
      control.Hand(events);
    }
  }
  return true;
}

void RunPollingSource(std::chrono::milliseconds interval, KnownProcesses& known, const SourceLoopControl& control) {
  std::vector<ProcessEvent> events;
  Clock::time_point next = Clock::now() + interval;
  while (control.WaitWhileStalled()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now());
    if (left.count() > 0) {
      WaitForInput(-1, control, static_cast<int>(left.count()));
      continue;
    }
    next = Clock::now() + interval;
    known.Resync(ScanProcesses(ProcNames::Skip), events);
    control.Hand(events);
  }
}

}  // namespace platform::posix
