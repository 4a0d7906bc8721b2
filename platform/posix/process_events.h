// Process start and stop notifications on Linux: the kernel's process
// connector where this process may use it, otherwise /proc polling, delivered
// to subscribers on the service's own threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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

// Where a service's events come from.
enum class ProcessEventSource {
  None,     // not running
  Netlink,  // the kernel's process connector (root or CAP_NET_ADMIN, first PID namespace)
  Polling,  // /proc scans
};

struct ProcessEventServiceOptions {
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
};

// One event service: a source thread that reads the kernel's events (or scans
// /proc) into a queue, and a delivery thread that hands them to subscribers.
// The threads and the socket exist only while there is a subscription.
// Every method may be called from any thread, including from a callback.
class ProcessEventService {
 public:
  explicit ProcessEventService(ProcessEventServiceOptions options = {});
  // Ends every subscription as Unsubscribe does. Must not run inside one of
  // this service's callbacks.
  ~ProcessEventService();
  ProcessEventService(const ProcessEventService&) = delete;
  ProcessEventService& operator=(const ProcessEventService&) = delete;

  // Adds a subscriber for one kind of event and starts the service if it is
  // not running. Returns the subscription's id (> 0), or 0 when the service
  // cannot run at all (no source could be opened). The callback is called for
  // events that the service reads after this call returns.
  std::uint64_t Subscribe(ProcessEventKind kind, ProcessEventCallback callback);
  // Ends a subscription: when it returns, its callback is not running on any
  // other thread and is never called again. Called from inside that
  // callback's own delivery it returns without waiting for that delivery.
  // The last subscription's end stops the service (threads joined, socket
  // closed; from inside a callback the delivery thread winds down by itself
  // once the callback returns). Unknown ids are ignored.
  void Unsubscribe(std::uint64_t id);

  // The source in use, None while the service is not running.
  ProcessEventSource Source() const;

  // Events known first-hand, from whoever launched a tree of processes and
  // follows it exactly (the tree helper): they are delivered in order, after
  // the events already queued. `delivered` (may be empty) is called once
  // every subscriber has had them, or at once when the service is not
  // running or stops first; on any thread, without a lock of the service's.
  void Report(std::vector<ProcessEvent> events, std::function<void()> delivered);
  // From now on the source leaves out every process below root (not root
  // itself): its starts and stops come through Report. Call it before root
  // starts any process.
  void LeaveOutTree(std::uint32_t root);
  // The source reports the processes below root again.
  void EndLeaveOutTree(std::uint32_t root);

  // Test hooks.
  // While stalled, the source reads nothing (the kernel's queue fills up).
  void StallSourceForTesting(bool stalled);
  // How often the source has resynchronised from /proc after the kernel
  // dropped events, since this object was made.
  std::uint64_t ResyncCountForTesting() const;

 private:
  std::shared_ptr<class ProcessEventCore> mCore;
};

// The process-wide service (default options), made on first use and never
// destroyed; nothing of it runs in a program that never subscribes.
// See ProcessEventService::Subscribe and ::Unsubscribe.
std::uint64_t SubscribeProcessEvents(ProcessEventKind kind, ProcessEventCallback callback);
void UnsubscribeProcessEvents(std::uint64_t id);
// The process-wide service's source (None while nothing is subscribed), its
// first-hand reports and the trees it leaves out.
ProcessEventSource ProcessEventsSource();
void ReportProcessEvents(std::vector<ProcessEvent> events, std::function<void()> delivered);
void LeaveOutProcessTree(std::uint32_t root);
void EndLeaveOutProcessTree(std::uint32_t root);

}  // namespace platform::posix
