// The kernel's process connector: socket set-up, listening and the parsing
// of its fork and exit reports.
#include "platform/posix/events/process_connector.h"

#include <errno.h>
#include <fcntl.h>
#include <arpa/inet.h>
#include <linux/cn_proc.h>
#include <linux/connector.h>
#include <linux/filter.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <sstream>
#include <string>

#include "platform/posix/base/kernel_calls.h"
#include "platform/posix/base/read_file.h"

namespace platform::posix {
namespace {

constexpr std::size_t kControlSize = NLMSG_LENGTH(sizeof(cn_msg) + sizeof(std::uint32_t));

std::int64_t ClockNanoseconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Converts the connector's stamps (monotonic clock) to /proc's start times
// (clock ticks of the boot-time clock, which also counts suspended time).
class TickConverter {
 public:
  TickConverter()
      : mOffset(ClockNanoseconds(CLOCK_BOOTTIME) - ClockNanoseconds(CLOCK_MONOTONIC)),
        mNanosecondsPerTick(1000000000 / sysconf(_SC_CLK_TCK)) {}
  std::uint64_t Ticks(std::uint64_t monotonicNanoseconds) const {
    return (monotonicNanoseconds + static_cast<std::uint64_t>(mOffset)) / static_cast<std::uint64_t>(mNanosecondsPerTick);
  }

 private:
  const std::int64_t mOffset;
  const std::int64_t mNanosecondsPerTick;
};

// A filter run by the kernel on every report before it is queued: only the
// start of a new process (not of a thread) and the end of a process (its
// leader) pass; execs, renames, thread starts and ends never wake the reader.
// The filter's loads read big-endian words: values are compared as loaded.
bool FilterReports(int socket) {
  constexpr std::uint32_t kAt = NLMSG_HDRLEN + sizeof(cn_msg);  // the proc_event
  constexpr std::uint32_t kForkChildPid = kAt + offsetof(proc_event, event_data.fork.child_pid);
  constexpr std::uint32_t kForkChildTgid = kAt + offsetof(proc_event, event_data.fork.child_tgid);
  constexpr std::uint32_t kExitPid = kAt + offsetof(proc_event, event_data.exit.process_pid);
  constexpr std::uint32_t kExitTgid = kAt + offsetof(proc_event, event_data.exit.process_tgid);
  const std::uint32_t fork = ntohl(static_cast<std::uint32_t>(proc_event::PROC_EVENT_FORK));
  const std::uint32_t exit = ntohl(static_cast<std::uint32_t>(proc_event::PROC_EVENT_EXIT));
  sock_filter code[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kAt + offsetof(proc_event, what)),  // 0
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, fork, 0, 5),                       // 1: fork -> 2, else -> 7
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kForkChildTgid),                    // 2
      BPF_STMT(BPF_MISC | BPF_TAX, 0),                                       // 3
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kForkChildPid),                     // 4
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_X, 0, 6, 7),                          // 5: a process -> 12, a thread -> 13
      BPF_STMT(BPF_RET | BPF_K, 0),                                          // 6 (not reached)
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, exit, 0, 5),                       // 7: exit -> 8, else -> 13
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kExitTgid),                         // 8
      BPF_STMT(BPF_MISC | BPF_TAX, 0),                                       // 9
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kExitPid),                          // 10
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_X, 0, 0, 1),                          // 11: the leader -> 12, else -> 13
      BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFFu),                                // 12: keep
      BPF_STMT(BPF_RET | BPF_K, 0),                                          // 13: drop
  };
  const sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
  return setsockopt(socket, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

// The message's payload after its (aligned) header.
const char* Payload(const nlmsghdr* header) { return reinterpret_cast<const char*>(header) + NLMSG_HDRLEN; }

// Appends the process report carried by one connector message, if any.
void ParseMessage(const nlmsghdr* header, const TickConverter& ticks, std::vector<KernelProcessEvent>& events) {
  if (header->nlmsg_len < NLMSG_LENGTH(sizeof(cn_msg))) return;
  cn_msg message;
  std::memcpy(&message, Payload(header), sizeof message);
  if (message.id.idx != CN_IDX_PROC || message.id.val != CN_VAL_PROC) return;
  const std::size_t carried = std::min<std::size_t>(message.len, header->nlmsg_len - NLMSG_LENGTH(sizeof(cn_msg)));
  proc_event event;
  std::memset(&event, 0, sizeof event);
  std::memcpy(&event, Payload(header) + sizeof(cn_msg), std::min(carried, sizeof event));
  const auto holds = [carried](std::size_t size) { return carried >= offsetof(proc_event, event_data) + size; };
  switch (event.what) {
    case proc_event::PROC_EVENT_FORK: {
      if (!holds(sizeof event.event_data.fork)) return;
      const auto& fork = event.event_data.fork;
      if (fork.child_pid != fork.child_tgid) return;  // a new thread
      events.push_back({KernelProcessEvent::Type::Fork, static_cast<std::uint32_t>(fork.child_tgid),
                        static_cast<std::uint32_t>(fork.parent_tgid), ticks.Ticks(event.timestamp_ns)});
      return;
    }
    case proc_event::PROC_EVENT_EXIT: {
      if (!holds(sizeof event.event_data.exit)) return;
      const auto& exit = event.event_data.exit;
      if (exit.process_pid != exit.process_tgid) return;  // a thread that is not the leader
      events.push_back({KernelProcessEvent::Type::Exit, static_cast<std::uint32_t>(exit.process_tgid),
                        static_cast<std::uint32_t>(exit.parent_tgid), ticks.Ticks(event.timestamp_ns)});
      return;
    }
    default:
      return;
  }
}

}  // namespace

bool SeesConnectorIds() {
  std::istringstream status(ReadWholeFile("/proc/self/status"));
  std::string line;
  while (std::getline(status, line)) {
    if (!line.starts_with("NSpid:")) continue;
    std::istringstream ids(line.substr(6));
    std::string id;
    int count = 0;
    while (ids >> id) ++count;
    return count == 1;
  }
  return true;  // a kernel without PID namespaces
}

ProcessConnector::~ProcessConnector() {
  if (mListening) SendControl(PROC_CN_MCAST_IGNORE);
}

bool ProcessConnector::Open(int receiveBufferBytes) {
  mSocket.Reset(socket(PF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_CONNECTOR));
  if (!mSocket.IsValid()) return false;
  if (setsockopt(mSocket.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &receiveBufferBytes, sizeof receiveBufferBytes) != 0) {
    setsockopt(mSocket.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
  }
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = CN_IDX_PROC;
  address.nl_pid = 0;  // the kernel picks a unique port: several services may listen
  if (CurrentKernelCalls().Bind(mSocket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return false;
  // Without the filter every report is read, and the unwanted ones are
  // dropped by the parsing instead.
  static_cast<void>(FilterReports(mSocket.Get()));
  mListening = SendControl(PROC_CN_MCAST_LISTEN);
  return mListening;
}

bool ProcessConnector::SendControl(int operation) {
  alignas(nlmsghdr) char buffer[kControlSize];
  std::memset(buffer, 0, sizeof buffer);
  auto* header = reinterpret_cast<nlmsghdr*>(buffer);
  header->nlmsg_len = kControlSize;
  header->nlmsg_type = NLMSG_DONE;
  cn_msg message{};
  message.id.idx = CN_IDX_PROC;
  message.id.val = CN_VAL_PROC;
  message.len = sizeof(std::uint32_t);
  const auto op = static_cast<std::uint32_t>(operation);
  std::memcpy(buffer + NLMSG_HDRLEN, &message, sizeof message);
  std::memcpy(buffer + NLMSG_HDRLEN + sizeof message, &op, sizeof op);
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  for (;;) {
    const ssize_t sent = sendto(mSocket.Get(), buffer, sizeof buffer, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
    if (sent >= 0) return true;
    if (errno != EINTR) return false;
  }
}

ProcessConnector::ReadResult ProcessConnector::ReadOne(std::vector<KernelProcessEvent>& events) {
  alignas(nlmsghdr) char buffer[8192];
  sockaddr_nl sender{};
  socklen_t senderSize = sizeof sender;
  const ssize_t length = recvfrom(mSocket.Get(), buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&sender),
                                  &senderSize);
  if (length < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return ReadResult::Empty;
    return errno == ENOBUFS ? ReadResult::Overflow : ReadResult::Failed;
  }
  if (sender.nl_pid != 0) return ReadResult::Read;  // not from the kernel
  const TickConverter ticks;
  // The messages of the datagram, each at an aligned offset.
  std::size_t offset = 0;
  while (offset + sizeof(nlmsghdr) <= static_cast<std::size_t>(length)) {
    nlmsghdr header;
    std::memcpy(&header, buffer + offset, sizeof header);
    if (header.nlmsg_len < sizeof header || offset + header.nlmsg_len > static_cast<std::size_t>(length)) break;
    if (header.nlmsg_type != NLMSG_ERROR && header.nlmsg_type != NLMSG_NOOP) {
      ParseMessage(reinterpret_cast<const nlmsghdr*>(buffer + offset), ticks, events);
    }
    offset += NLMSG_ALIGN(header.nlmsg_len);
  }
  return ReadResult::Read;
}

}  // namespace platform::posix
