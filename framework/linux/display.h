// The FLTK backend's connection to the X server: opened with retries, handed
// to FLTK, and marked lost (instead of ending the process) when it breaks.
#pragma once

#include <string>

namespace framework {

// Connects to the X server, trying for about a second (a server under load
// may refuse a connection now and then), and gives FLTK the connection; from
// then on a broken connection marks the display lost. False when no
// connection could be made. Main thread, once.
bool OpenDisplay();

// The report of a display that could not be opened, with the display's name.
std::u16string DisplayRefusedMessage();

// The connection to the X server has broken (the server ended, the session
// ended): Xlib does no I/O on it any more and nothing may wait for X. Any
// thread.
bool DisplayLost();

// FLTK has a connection, or one to the X server can be made now. Main thread.
bool DisplayAvailable();

}  // namespace framework
