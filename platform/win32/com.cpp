// COM services on Windows: the system's calls.
#include <objbase.h>

#include "platform/com.h"

namespace platform {
namespace {

class Win32Com final : public ComServices {
 public:
  HResult CoInitializeEx(std::uint32_t flags) override { return ::CoInitializeEx(nullptr, flags); }
  HResult CoInitialize() override { return ::CoInitialize(nullptr); }
  void CoUninitialize() override { ::CoUninitialize(); }
};

}  // namespace

ComServices& SystemCom() {
  static Win32Com* const com = new Win32Com();  // lives for the process
  return *com;
}

}  // namespace platform
