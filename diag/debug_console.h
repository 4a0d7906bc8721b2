// The on-demand debug console and the one trace operation of the system.
#pragma once

#include <atomic>
#include <string>

#include "platform/console.h"

// The process's one console. Created on first use and never destroyed while
// the program runs. WriteLine may be called from any thread.
class TDebugConsole {
 public:
  explicit TDebugConsole(bool enable);
  TDebugConsole(const TDebugConsole&) = delete;
  TDebugConsole& operator=(const TDebugConsole&) = delete;

  // Writes the text and a single line feed, converted to the ANSI code page,
  // in one write; drops it while the console is closed.
  void WriteLine(std::u16string text);

  bool Enabled() const { return mEnabled.load(std::memory_order_acquire); }
  platform::ConsoleHandle Output() const { return mOutput.load(std::memory_order_acquire); }

 private:
  friend TDebugConsole* DebugConsoleInstance(bool enable);
  void Open();

  std::atomic<platform::ConsoleHandle> mOutput{nullptr};
  std::atomic<bool> mEnabled{false};
};

// Returns the one instance, creating it on the first call; opens the console
// when enable is true. Never closes an open console. Safe from any thread.
TDebugConsole* DebugConsoleInstance(bool enable);

// Applies the right-Shift rule (a held key makes the caller wait for its
// release, then opens the console) and returns the instance.
TDebugConsole* GetDebugConsole();
