// The kernel's process connector (netlink): fork and exit reports of every
// process on the system, for processes allowed to listen (root or
// CAP_NET_ADMIN).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/posix/base/unique_fd.h"

namespace platform::posix {

// One report of the connector about a process (threads are left out).
struct KernelProcessEvent {
  enum class Type { Fork, Exit };
  Type What = Type::Fork;
  std::uint32_t Id = 0;      // the process (thread-group) id
  std::uint32_t Parent = 0;  // the parent's process id (0 when not reported)
  std::uint64_t Ticks = 0;   // when it happened, in clock ticks since boot (as /proc's start times)
};

// True when this process sees the same process ids as the connector reports:
// it runs in the first PID namespace (one id on the NSpid line of /proc/self/status).
bool SeesConnectorIds();

// The connector's socket. Used by one thread at a time.
class ProcessConnector {
 public:
  ProcessConnector() = default;
  // Stops listening and closes the socket.
  ~ProcessConnector();
  ProcessConnector(const ProcessConnector&) = delete;
  ProcessConnector& operator=(const ProcessConnector&) = delete;

  // Opens the socket with the receive buffer size (forced past the system's
  // limit where allowed), binds it to the process events and starts
  // listening. False, with errno set, when refused.
  bool Open(int receiveBufferBytes);
  // The socket, to poll for input; -1 before Open.
  int Descriptor() const { return mSocket.Get(); }

  enum class ReadResult {
    Read,      // one message read (it may hold no process event)
    Empty,     // nothing waiting
    Overflow,  // the kernel dropped reports (ENOBUFS); reports queued before remain to be read
    Failed,    // the socket no longer works
  };
  // Reads one message without blocking and appends its reports.
  ReadResult ReadOne(std::vector<KernelProcessEvent>& events);

 private:
  bool SendControl(int operation);

  UniqueFd mSocket;
  bool mListening = false;
};

}  // namespace platform::posix
