// The scoped handle owner: closes exactly once, on scope exit or Close, never after Release.
#include <gtest/gtest.h>

#include <utility>

#include "platform/scoped_handle.h"
#include "tests/support/fake_processes.h"

namespace {

platform::Handle FakeHandle(std::uintptr_t n) { return reinterpret_cast<platform::Handle>(n); }

TEST(ScopedHandle, ClosesOnceWhateverTheRoute) {
  FakeProcesses processes;
  {
    platform::ScopedHandle scoped(FakeHandle(0x10));
    EXPECT_TRUE(scoped.IsValid());
  }
  {
    platform::ScopedHandle scoped(FakeHandle(0x20));
    scoped.Close();
    EXPECT_FALSE(scoped.IsValid());
    scoped.Close();
  }
  platform::Handle released = nullptr;
  {
    platform::ScopedHandle scoped(FakeHandle(0x30));
    released = scoped.Release();
  }
  EXPECT_EQ(released, FakeHandle(0x30));
  {
    platform::ScopedHandle first(FakeHandle(0x40));
    platform::ScopedHandle second(std::move(first));
    EXPECT_FALSE(first.IsValid());  // NOLINT(bugprone-use-after-move): moved-from is empty
    platform::ScopedHandle third(FakeHandle(0x50));
    third = std::move(second);  // closes 0x50, takes 0x40
  }
  { platform::ScopedHandle empty; }
  const FakeProcesses::Record record = processes.Snapshot();
  EXPECT_EQ(record.Closes, (std::map<platform::Handle, int>{
                               {FakeHandle(0x10), 1}, {FakeHandle(0x20), 1}, {FakeHandle(0x40), 1}, {FakeHandle(0x50), 1}}));
}

}  // namespace
