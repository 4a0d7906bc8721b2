// Process start and stop notifications on Linux: the kernel's process
// connector where this process may use it, otherwise /proc polling, delivered
// to subscribers on the monitor's own threads. The process-wide monitor is
// reached through the seam (SystemProcessEvents, CurrentProcessEvents,
// ScopedProcessEventsForTesting).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/seam.h"

namespace platform::posix {

enum class ProcessEventKind { Start, Stop };

struct ProcessEvent {
  ProcessEventKind Kind = ProcessEventKind::Start;
  std::uint32_t ProcessId = 0;
  // The parent's id: for a start the process that created it; for a stop the
  // parent it was known with (0 when unknown).
  std::uint32_t ParentProcessId = 0;
  // The executable's base name in UTF-8; may be empty (the process was gone
  // before its name could be read, or its stop came with its start).
  std::string ProcessName;
};

// Called on one of the service's own threads, one event at a time per service.
using ProcessEventCallback = std::function<void(const ProcessEvent&)>;

// Where a monitor's events come from.
enum class ProcessEventOrigin {
  None,     // not running
  Netlink,  // the kernel's process connector (root or CAP_NET_ADMIN, first PID namespace)
  Polling,  // /proc scans
};

// The event service: the system's process starts and stops, delivered to
// subscribers. Every method may be called from any thread, including from a
// callback.
class ProcessEvents {
 public:
  virtual ~ProcessEvents() = default;

  // Adds a subscriber for one kind of event and starts the service if it is
  // not running. Returns the subscription's id (> 0), or 0 when the service
  // cannot run at all (no source could be opened). The callback is called for
  // events that the service reads after this call returns.
  virtual std::uint64_t Subscribe(ProcessEventKind kind, ProcessEventCallback callback) = 0;
  // Ends a subscription: when it returns, its callback is not running on any
  // other thread and is never called again. Called from inside that
  // callback's own delivery it returns without waiting for that delivery.
  // The last subscription's end stops the service (threads joined, socket
  // closed; from inside a callback the delivery thread winds down by itself
  // once the callback returns). Unknown ids are ignored.
  virtual void Unsubscribe(std::uint64_t id) = 0;

  // The source in use, None while the service is not running.
  virtual ProcessEventOrigin Origin() const = 0;

  // Events known first-hand, from whoever launched a tree of processes and
  // follows it exactly (the tree helper): they are delivered in order, after
  // the events already queued. `delivered` (may be empty) is called once
  // every subscriber has had them, or at once when the service is not
  // running or stops first; on any thread, without a lock of the service's.
  virtual void Report(std::vector<ProcessEvent> events, std::function<void()> delivered) = 0;
  // From now on the source leaves out every process below root (not root
  // itself): its starts and stops come through Report. Call it before root
  // starts any process.
  virtual void LeaveOutTree(std::uint32_t root) = 0;
  // The source reports the processes below root again.
  virtual void EndLeaveOutTree(std::uint32_t root) = 0;
};

// The process-wide monitor (default options), made on first use and never
// destroyed; nothing of it runs in a program that never subscribes.
ProcessEvents& SystemProcessEvents();
// The events in use: the process-wide monitor unless a test put another in place.
inline ProcessEvents& CurrentProcessEvents() { return CurrentService<ProcessEvents>(SystemProcessEvents()); }
using ScopedProcessEventsForTesting = ScopedServiceForTesting<ProcessEvents>;

// A test's hold on a monitor's source: made by the test, given to the
// monitor in its options, outliving the monitor.
struct SourceProbe {
  // While true, the source reads nothing (the kernel's queue fills up).
  std::atomic<bool> Stalled{false};
  // How often the source has resynchronised from /proc after the kernel
  // dropped events.
  std::atomic<std::uint64_t> Resyncs{0};
};

struct ProcessEventMonitorOptions {
  // Use /proc polling even where the connector could be used.
  bool ForcePolling = false;
  // Receive buffer of the connector's socket in bytes; 0: 8 MiB (forced past
  // the system's limit where this process may do that).
  int ReceiveBufferBytes = 0;
  // Time between two /proc scans in polling mode (at most 250 ms in use).
  std::chrono::milliseconds PollInterval{200};
  // How long the connector's reader lets a burst of reports gather after the
  // first one before reading them all (0: reads each at once). One pass over
  // many reports costs far less than a wake-up of both threads for each.
  std::chrono::milliseconds GatherInterval{10};
  // Tests and benchmarks only: stalls the source and counts its
  // resynchronisations. Null: the monitor keeps its own, out of reach.
  SourceProbe* Probe = nullptr;
};

// One monitor: while it has subscriptions, a source thread reads the
// kernel's events (or scans /proc) into a queue and a delivery thread hands
// them to subscribers. The threads and the socket exist only while there is
// a subscription.
class ProcessEventMonitor final : public ProcessEvents {
 public:
  explicit ProcessEventMonitor(ProcessEventMonitorOptions options = {});
  // Ends every subscription as Unsubscribe does. Must not run inside one of
  // this monitor's callbacks.
  ~ProcessEventMonitor() override;
  ProcessEventMonitor(const ProcessEventMonitor&) = delete;
  ProcessEventMonitor& operator=(const ProcessEventMonitor&) = delete;

  std::uint64_t Subscribe(ProcessEventKind kind, ProcessEventCallback callback) override;
  void Unsubscribe(std::uint64_t id) override;
  ProcessEventOrigin Origin() const override;
  void Report(std::vector<ProcessEvent> events, std::function<void()> delivered) override;
  void LeaveOutTree(std::uint32_t root) override;
  void EndLeaveOutTree(std::uint32_t root) override;

 private:
  std::shared_ptr<class MonitorState> mState;
};

}  // namespace platform::posix
