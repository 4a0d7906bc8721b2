// The debug console: one instance, opened by "/DEBUG" or by the right Shift key.
#include "diag/debug_console.h"

#include <mutex>

#include "diag/debug_console_testing.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace {

constexpr unsigned kKeyPollMs = 100;

std::atomic<TDebugConsole*> gInstance{nullptr};
// Guards the creation of the instance and the opening of its console, so that
// threads tracing at the same moment make exactly one of each.
std::mutex gCreateMutex;

platform::ConsoleServices& Services() { return platform::CurrentConsole(); }

}  // namespace

TDebugConsole::TDebugConsole(bool enable) {
  if (enable) Open();
}

void TDebugConsole::Open() {
  // The handle is in place before the console counts as open, so that a
  // thread that finds it open never drops its line for want of the handle.
  Services().AllocConsole();
  mOutput.store(Services().GetStdOutput(), std::memory_order_release);
  mEnabled.store(true, std::memory_order_release);
}

void TDebugConsole::WriteLine(std::u16string text) {
  if (!Enabled()) return;
  const platform::ConsoleHandle output = Output();
  if (output == nullptr) return;
  text += u'\n';
  const std::string bytes = platform::WideToAnsi(text);
  Services().WriteBytes(output, bytes.data(), bytes.size());
}

TDebugConsole* DebugConsoleInstance(bool enable) {
  TDebugConsole* instance = gInstance.load(std::memory_order_acquire);
  if (instance != nullptr && (!enable || instance->Enabled())) return instance;

  std::lock_guard<std::mutex> lock(gCreateMutex);
  instance = gInstance.load(std::memory_order_acquire);
  if (instance == nullptr) {
    gInstance.store(new TDebugConsole(enable), std::memory_order_release);
  } else if (enable && !instance->Enabled()) {
    instance->Open();
  }
  return gInstance.load(std::memory_order_acquire);
}

TDebugConsole* GetDebugConsole() {
  platform::ConsoleServices& services = Services();
  if (!services.IsRightShiftDown()) return DebugConsoleInstance(false);
  while (services.IsRightShiftDown()) platform::CurrentClock().Sleep(kKeyPollMs);
  return DebugConsoleInstance(true);
}

namespace diag_testing {

namespace {
void DiscardInstance() {
  std::lock_guard<std::mutex> lock(gCreateMutex);
  delete gInstance.exchange(nullptr, std::memory_order_acq_rel);
}
}  // namespace

ScopedConsoleServices::ScopedConsoleServices(platform::ConsoleServices& services) : mScope(services) {
  DiscardInstance();
}

ScopedConsoleServices::~ScopedConsoleServices() { DiscardInstance(); }

TDebugConsole* CurrentInstance() { return gInstance.load(std::memory_order_acquire); }

}  // namespace diag_testing
