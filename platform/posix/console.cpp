// Console and key state on Linux: lines go to standard error, and the right
// Shift key is read from the X server by a poller on its own connection.
#include <errno.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <atomic>
#include <cstdlib>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/console.h"

namespace platform {
namespace {

constexpr unsigned kPollIntervalMs = 15;
constexpr std::uint32_t kKeysymShiftR = 0xFFE2;

// Publishes the state of Shift_R every few milliseconds. The XCB connection
// belongs to the poller thread alone once it runs; XCB reports a lost server
// as an error instead of ending the process, and the key then counts as up.
class RightShiftPoller {
 public:
  static RightShiftPoller* Start() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') return nullptr;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
      xcb_disconnect(connection);
      return nullptr;
    }
    const int keycode = FindKeycode(connection, kKeysymShiftR);
    if (keycode < 0) {
      xcb_disconnect(connection);
      return nullptr;
    }
    // Never destroyed: the poller runs until the process ends.
    auto* poller = new RightShiftPoller(connection, static_cast<std::uint8_t>(keycode));
    poller->mDown.store(poller->Query(), std::memory_order_relaxed);
    std::thread([poller] { poller->Loop(); }).detach();
    return poller;
  }

  bool IsDown() const { return mDown.load(std::memory_order_acquire); }

 private:
  RightShiftPoller(xcb_connection_t* connection, std::uint8_t keycode)
      : mConnection(connection), mKeycode(keycode) {}

  static int FindKeycode(xcb_connection_t* connection, std::uint32_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const int first = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto cookie = xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<std::uint8_t>(count));
    std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> reply(
        xcb_get_keyboard_mapping_reply(connection, cookie, nullptr), &std::free);
    if (!reply) return -1;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(reply.get());
    const int perCode = reply->keysyms_per_keycode;
    for (int code = 0; code < count; ++code) {
      for (int k = 0; k < perCode; ++k) {
        if (keysyms[code * perCode + k] == keysym) return first + code;
      }
    }
    return -1;
  }

  // False when the key is up or the server cannot be asked.
  bool Query() {
    auto cookie = xcb_query_keymap(mConnection);
    std::unique_ptr<xcb_query_keymap_reply_t, decltype(&std::free)> reply(
        xcb_query_keymap_reply(mConnection, cookie, nullptr), &std::free);
    if (!reply) return false;
    return (reply->keys[mKeycode / 8] & (1u << (mKeycode % 8))) != 0;
  }

  void Loop() {
    while (!xcb_connection_has_error(mConnection)) {
      mDown.store(Query(), std::memory_order_release);
      SystemClock().Sleep(kPollIntervalMs);  // the real key is polled in real time
    }
    mDown.store(false, std::memory_order_release);
  }

  xcb_connection_t* const mConnection;
  const std::uint8_t mKeycode;
  std::atomic<bool> mDown{false};
};

class PosixConsole final : public ConsoleServices {
 public:
  bool IsRightShiftDown() override {
    RightShiftPoller* poller = mPoller.load(std::memory_order_acquire);
    if (poller == nullptr) poller = TryStartPoller();
    return poller != nullptr && poller->IsDown();
  }
  // Standard error is the console; there is nothing to allocate.
  void AllocConsole() override {}
  ConsoleHandle GetStdOutput() override {
    static int standardError = STDERR_FILENO;
    return fcntl(STDERR_FILENO, F_GETFD) == -1 ? nullptr : &standardError;
  }
  void WriteBytes(ConsoleHandle output, const char* bytes, std::size_t count) override {
    const int fd = *static_cast<int*>(output);
    // One write per line, so that lines from several threads stay whole; a
    // short write (a full pipe) is finished off rather than lost.
    while (count > 0) {
      const ssize_t n = write(fd, bytes, count);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      bytes += n;
      count -= static_cast<std::size_t>(n);
    }
  }

 private:
  // How long a display that refused the poller's connection is left alone
  // before it is asked again: a display may refuse a connection under load
  // and take the next one.
  static constexpr std::int64_t kRetryIntervalMs = 1000;

  static std::int64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  }

  // Starts the poller unless it runs or an attempt was made within the
  // retry interval; the poller, or null. Any thread; one attempt at a time.
  RightShiftPoller* TryStartPoller() {
    const std::int64_t now = NowMs();
    if (now < mNextAttemptMs.load(std::memory_order_relaxed)) return nullptr;
    std::lock_guard<std::mutex> lock(mStartMutex);
    if (RightShiftPoller* running = mPoller.load(std::memory_order_acquire)) return running;
    if (now < mNextAttemptMs.load(std::memory_order_relaxed)) return nullptr;
    RightShiftPoller* started = RightShiftPoller::Start();
    mNextAttemptMs.store(NowMs() + kRetryIntervalMs, std::memory_order_relaxed);
    mPoller.store(started, std::memory_order_release);
    return started;
  }

  std::atomic<RightShiftPoller*> mPoller{nullptr};
  std::atomic<std::int64_t> mNextAttemptMs{0};
  std::mutex mStartMutex;
};

}  // namespace

ConsoleServices& SystemConsole() {
  static PosixConsole* console = new PosixConsole();  // lives for the whole process
  return *console;
}

}  // namespace platform
