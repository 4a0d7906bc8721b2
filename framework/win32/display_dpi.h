// The display's dpi on Win32. The calls that tell it per monitor (and size a
// window for it) came after Windows 7, so they are looked up at run time: the exe
// imports none of them and loads shcore.dll only from the system folder.
// Without them the system's dpi (the screen's LOGPIXELSY) stands.
#pragma once

#include <windows.h>

namespace framework {

// The message Windows sends a per-monitor aware window whose monitor's dpi
// changed: wParam holds the new dpi (low and high word), lParam points at the
// suggested window rectangle.
inline constexpr UINT kDpiChangedMessage = 0x02E0;

// The dpi of the monitor that holds the point; the system's dpi without
// per-monitor support.
int MonitorDpi(POINT point);
// Grows a client rectangle to the window rectangle for a window of this
// style drawn at dpi (AdjustWindowRectExForDpi where it exists).
void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi);

}  // namespace framework
