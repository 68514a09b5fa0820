// A window's DPI and the system's sizes at a DPI, on every Windows from 7 SP1 to 11:
// per monitor where the system scales per monitor, the system DPI where it does not.
#pragma once

#include <windows.h>

namespace toolkit {

// Not in the headers for Windows 7: sent by Windows 10 1703 and later.
inline constexpr UINT kWmGetDpiScaledSize = 0x02E4;

// The DPI the system draws at, which Windows 7 and 8 scale every window to (the manifest
// makes the program aware of it there).
[[nodiscard]] int ScreenDpi();

// The DPI a window is drawn at: its own on Windows 10 1607 and later, its monitor's on
// Windows 8.1 and early Windows 10 (told to the program by WM_DPICHANGED there too), and
// the system's on Windows 7 and 8.
[[nodiscard]] int WindowDpi(HWND window);

// GetSystemMetrics as at the given DPI.
[[nodiscard]] int SystemMetricForDpi(int index, int dpi);

// The window rectangle around a client rectangle, for a window at `dpi`, with the frame as
// Windows draws it: scaled to `dpi` from Windows 10 1607 (where the form asks for it,
// EnableNonClientDpiScaling), at the system DPI before.
void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD ex_style, int dpi);

}  // namespace toolkit
