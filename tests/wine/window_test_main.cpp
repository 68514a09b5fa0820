// Runs the window tests on this thread, which becomes the program's UI thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "toolkit/common_controls.h"

int main(int argc, char** argv) {
  // As the program does: the standard controls from comctl32 6, loaded, not imported.
  if (!toolkit::LoadCommonControls()) {
    std::fputs("comctl32 6 could not be loaded\n", stderr);
    return 1;
  }
  ::SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
