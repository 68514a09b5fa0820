// Runs the window tests on this thread, which becomes the program's UI thread.
// With --as-windows7 they run as on Windows 7 SP1 without updates: every newer function
// hidden, and the process aware of the system DPI alone, as Windows 7 makes it; the
// prefix is then set to a system DPI other than 96 (scripts/wine-env.sh).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "toolkit/common_controls.h"
#include "toolkit/dll_function.h"
#include "toolkit/dpi.h"
#include "toolkit/newer_windows.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const bool as_windows7 = argc > 1 && std::strcmp(argv[1], "--as-windows7") == 0;
  if (as_windows7) toolkit::HideNewerWindows();
  toolkit::LoadDllsFromTheSystemFolderOnly();  // the program's first act, by the same road
  // At 100 % the run could not tell a layout at the system DPI from one at 96.
  if (as_windows7 && toolkit::ScreenDpi() == 96) {
    std::fprintf(stderr, "--as-windows7 needs a system DPI other than 96\n");
    return 1;
  }
  if (!toolkit::LoadCommonControls()) return 1;  // as the program does: loaded, not imported
  BOOL(WINAPI * per_monitor_v2)(HANDLE) = nullptr;
  if (!as_windows7 &&
      toolkit::FindFunction(::GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext", per_monitor_v2))
    per_monitor_v2(reinterpret_cast<HANDLE>(-4));  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
  else
    ::SetProcessDPIAware();
  return RUN_ALL_TESTS();
}
