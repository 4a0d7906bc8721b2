// Move-only owners of platform handles: the handle is closed when its owner
// goes out of scope, unless it was closed or released before.
#pragma once

#include <utility>

#include "platform/process.h"

namespace platform {

// Traits give the handle type, its "none" value and how to close it:
//   using Type = ...; static Type None(); static void Close(Type value);
template <class Traits>
class ScopedGeneric {
 public:
  using Type = typename Traits::Type;

  ScopedGeneric() = default;
  explicit ScopedGeneric(Type value) : mValue(value) {}
  ~ScopedGeneric() { Close(); }
  ScopedGeneric(ScopedGeneric&& other) noexcept : mValue(other.Release()) {}
  ScopedGeneric& operator=(ScopedGeneric&& other) noexcept {
    if (this != &other) {
      Close();
      mValue = other.Release();
    }
    return *this;
  }
  ScopedGeneric(const ScopedGeneric&) = delete;
  ScopedGeneric& operator=(const ScopedGeneric&) = delete;

  Type Get() const { return mValue; }
  bool IsValid() const { return mValue != Traits::None(); }
  // Closes the handle now; the owner is empty afterwards.
  void Close() {
    if (IsValid()) Traits::Close(std::exchange(mValue, Traits::None()));
  }
  // Gives the handle up without closing it; the caller owns it now.
  [[nodiscard]] Type Release() { return std::exchange(mValue, Traits::None()); }
  // Closes any handle held and takes the new one.
  void Reset(Type value) {
    Close();
    mValue = value;
  }

 private:
  Type mValue = Traits::None();
};

// A handle from the process services, closed with their CloseHandle.
struct ProcessHandleTraits {
  using Type = Handle;
  static Type None() { return nullptr; }
  static void Close(Type value) { CurrentProcesses().CloseHandle(value); }
};
using ScopedHandle = ScopedGeneric<ProcessHandleTraits>;

}  // namespace platform
