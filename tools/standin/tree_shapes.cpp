// Linux stand-ins for installers of several shapes of process tree, for the
// tree-wait tests and benchmark. Usage: tree_shapes SHAPE LOG. Every process
// of the tree appends "start PID PARENT" when it begins and "end PID NS" just
// before it exits (NS: CLOCK_MONOTONIC in nanoseconds) to LOG. Shapes:
//   helpers   three helpers of 0.1 s, waited for, then 3 s of own work;
//   children  four children of 1, 1, 1 and 5 s; the installer ends at once;
//   early     a child forked at once leaves a grandchild of 2 s and ends;
//             the installer ends at once;
//   daemon    a double-forked daemon (setsid between the forks) of 2 s;
//   many      300 children at once, living 0.2 s to 3.2 s, staggered;
//   stream    300 children, one every 5 ms, each living 2 s; the installer
//             ends after the last;
//   threads   a child whose first thread ends at once while a second one
//             works 2 s and then ends it; the installer ends at once;
//   quick     ends at once, starting nothing;
//   leaves    a child of 6 s that outlives it (an orphan); ends at once.
#include <fcntl.h>
#include <pthread.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char* gLog = nullptr;

long long MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
}

void Append(const std::string& line) {
  const int fd = open(gLog, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return;
  const ssize_t written = write(fd, line.data(), line.size());  // one write: lines stay whole
  static_cast<void>(written);
  close(fd);
}

void Started() { Append("start " + std::to_string(getpid()) + " " + std::to_string(getppid()) + "\n"); }

[[noreturn]] void End() {
  Append("end " + std::to_string(getpid()) + " " + std::to_string(MonotonicNs()) + "\n");
  _exit(0);
}

void SleepMs(long milliseconds) {
  timespec delay{static_cast<time_t>(milliseconds / 1000), (milliseconds % 1000) * 1'000'000L};
  while (nanosleep(&delay, &delay) != 0) {
  }
}

// A child that runs the body, then ends; the parent gets its id (or -1).
template <class Body>
pid_t Fork(Body body) {
  const pid_t pid = fork();
  if (pid == 0) {
    Started();
    body();
    End();
  }
  return pid;
}

void Helpers() {
  pid_t helpers[3];
  for (pid_t& helper : helpers) helper = Fork([] { SleepMs(100); });
  for (const pid_t helper : helpers) waitpid(helper, nullptr, 0);
  SleepMs(3000);
}

void Children() {
  for (const long life : {1000L, 1000L, 1000L, 5000L}) Fork([life] { SleepMs(life); });
}

void Early() {
  Fork([] { Fork([] { SleepMs(2000); }); });
}

void Daemon() {
  const pid_t first = Fork([] {
    setsid();
    Fork([] { SleepMs(2000); });
  });
  waitpid(first, nullptr, 0);
}

void Many() {
  for (long i = 0; i < 300; ++i) Fork([i] { SleepMs(200 + 10 * i); });
}

void Stream() {
  for (int i = 0; i < 300; ++i) {
    Fork([] { SleepMs(2000); });
    SleepMs(5);
  }
}

void Threads() {
  Fork([] {
    pthread_t worker;
    const auto work = [](void*) -> void* {
      SleepMs(2000);
      End();
    };
    // The process goes on in its second thread alone.
    if (pthread_create(&worker, nullptr, work, nullptr) == 0) pthread_exit(nullptr);
  });
}

void Leaves() { Fork([] { SleepMs(6000); }); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tree_shapes helpers|children|early|daemon|many|stream|threads|quick|leaves LOG\n");
    return 2;
  }
  gLog = argv[2];
  const std::string shape = argv[1];
  // The early child comes before anything else, the start line included.
  if (shape == "early") Early();
  Started();
  if (shape == "helpers") Helpers();
  if (shape == "children") Children();
  if (shape == "daemon") Daemon();
  if (shape == "many") Many();
  if (shape == "stream") Stream();
  if (shape == "threads") Threads();
  if (shape == "leaves") Leaves();
  End();
}
