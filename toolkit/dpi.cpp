#include "toolkit/dpi.h"

#include "toolkit/geometry.h"
#include "toolkit/newer_windows.h"

namespace toolkit {
namespace {

constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI

int Scaled(int value, int to_dpi, int from_dpi) { return ::MulDiv(value, to_dpi, from_dpi); }

}  // namespace

int ScreenDpi() {
  HDC screen = ::GetDC(nullptr);
  if (!screen) return kDefaultDpi;
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
  ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kDefaultDpi;
}

int WindowDpi(HWND window) {
  const NewerWindows& newer = Newer();
  if (newer.GetDpiForWindow) {
    const UINT dpi = newer.GetDpiForWindow(window);
    if (dpi) return static_cast<int>(dpi);
  }
  if (newer.GetDpiForMonitor) {
    UINT x = 0;
    UINT y = 0;
    const HMONITOR monitor = ::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
    if (SUCCEEDED(newer.GetDpiForMonitor(monitor, kEffectiveDpi, &x, &y)) && x) return static_cast<int>(x);
  }
  return ScreenDpi();
}

int SystemMetricForDpi(int index, int dpi) {
  if (Newer().GetSystemMetricsForDpi) return Newer().GetSystemMetricsForDpi(index, static_cast<UINT>(dpi));
  // Before Windows 10 1607 the metrics are the system DPI's: scaled from it.
  return Scaled(::GetSystemMetrics(index), dpi, ScreenDpi());
}

void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD ex_style, int dpi) {
  if (Newer().AdjustWindowRectExForDpi) {
    (void)Newer().AdjustWindowRectExForDpi(&rect, style, FALSE, ex_style, static_cast<UINT>(dpi));
    return;
  }
  // Before Windows 10 1607 Windows draws the frame at the system DPI, whatever the
  // window's: on 8.1 and early 10 a window on a monitor of another scale has its client
  // area at that scale inside a frame of the scale of sign-in.
  (void)::AdjustWindowRectEx(&rect, style, FALSE, ex_style);
}

}  // namespace toolkit
