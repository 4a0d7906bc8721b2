// Selection of the framework's backend.
#include "framework/backend.h"

namespace framework {
namespace {
std::unique_ptr<Backend>& Slot() {
  static std::unique_ptr<Backend> backend;
  return backend;
}
}  // namespace

Backend& CurrentBackend() {
  if (!Slot()) Slot() = CreatePlatformBackend();
  return *Slot();
}

void SetBackend(std::unique_ptr<Backend> backend) { Slot() = std::move(backend); }

}  // namespace framework
