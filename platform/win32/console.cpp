// Console and key state on Windows.
#include <windows.h>

#include "platform/console.h"

namespace platform {
namespace {

class Win32Console final : public ConsoleServices {
 public:
  bool IsRightShiftDown() override { return (GetAsyncKeyState(VK_RSHIFT) & 0x8000) != 0; }
  void AllocConsole() override { ::AllocConsole(); }
  ConsoleHandle GetStdOutput() override {
    HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
  }
  void WriteBytes(ConsoleHandle output, const char* bytes, std::size_t count) override {
    // Older systems write through the count pointer unconditionally, so give it one.
    DWORD written = 0;
    ::WriteConsoleA(output, bytes, static_cast<DWORD>(count), &written, nullptr);
  }
};

}  // namespace

ConsoleServices& SystemConsole() {
  static Win32Console* console = new Win32Console();  // lives for the whole process
  return *console;
}

}  // namespace platform
