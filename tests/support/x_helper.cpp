// Test helper for X: asks a window to close as a window manager would, and
// holds exactly the right Shift key through XTest.
//
//   nvk_x_helper close WINDOW_ID        sends WM_DELETE_WINDOW to the window
//   nvk_x_helper hold-shift-r SECONDS   presses Shift_R, prints "down", and
//                                       releases it (printing "up") when a line
//                                       or end of file arrives on standard input,
//                                       or after SECONDS at the latest
//
// Uses $DISPLAY. Exit code 0 on success, 1 on failure, 2 on bad usage.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int Usage() {
  std::fprintf(stderr, "usage: nvk_x_helper close WINDOW_ID | hold-shift-r SECONDS\n");
  return 2;
}

int CloseWindow(Display* display, const char* idText) {
  char* end = nullptr;
  const unsigned long id = std::strtoul(idText, &end, 0);
  if (end == idText || *end != '\0') return Usage();
  XEvent event = {};
  event.xclient.type = ClientMessage;
  event.xclient.window = id;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  if (XSendEvent(display, id, False, NoEventMask, &event) == 0) return 1;
  XSync(display, False);
  return 0;
}

// Waits until standard input has a line or ends, at most `seconds`.
void WaitForRelease(int seconds) {
  pollfd input = {STDIN_FILENO, POLLIN, 0};
  poll(&input, 1, seconds * 1000);
}

int HoldShiftR(Display* display, const char* secondsText) {
  const int seconds = std::atoi(secondsText);
  if (seconds <= 0) return Usage();
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
    std::fprintf(stderr, "nvk_x_helper: the server has no XTEST\n");
    return 1;
  }
  const KeyCode code = XKeysymToKeycode(display, XK_Shift_R);
  if (code == 0) {
    std::fprintf(stderr, "nvk_x_helper: no keycode for Shift_R\n");
    return 1;
  }
  XTestFakeKeyEvent(display, code, True, CurrentTime);
  XSync(display, False);
  std::printf("down\n");
  std::fflush(stdout);
  WaitForRelease(seconds);
  XTestFakeKeyEvent(display, code, False, CurrentTime);
  XSync(display, False);
  std::printf("up\n");
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Usage();
  const std::string command = argv[1];
  if (command != "close" && command != "hold-shift-r") return Usage();
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "nvk_x_helper: cannot open the display\n");
    return 1;
  }
  const int result = command == "close" ? CloseWindow(display, argv[2]) : HoldShiftR(display, argv[2]);
  XCloseDisplay(display);
  return result;
}
