// Runs the window tests on this thread, which becomes the program's UI thread.
#include <windows.h>

#include <gtest/gtest.h>

#include "toolkit/common_controls.h"

int main(int argc, char** argv) {
  if (!toolkit::LoadCommonControls()) return 1;  // as the program does: loaded, not imported
  ::SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
