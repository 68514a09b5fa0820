// One copy of the program per logon session: a second start hands over to the copy that
// runs and ends, so that a window closed in the belief that it stops the countdown never
// leaves another copy counting out of sight (Windows 11 hides a new tray icon behind the
// ^, and a user who sees nothing starts the program again).
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>

#include "toolkit/handles.h"

namespace toolkit {

// Asks the copy that runs in this logon session under `name` (a name in the session's
// Local\ namespace) to come forward, lending it the right to take the foreground, and
// says whether it agreed within `patience`. False when there is none, or when what
// holds the name does not answer as a copy of ours in time (another program's object,
// a hung copy): this process then starts as usual.
[[nodiscard]] bool HandOverToRunningCopy(const wchar_t* name, std::chrono::milliseconds patience);

// Makes this process the copy that later starts hand over to, while it lives.
// `on_second_start` runs on the user-interface thread each time one does, from the
// message loop. Where the name is taken already, this copy is simply not reachable.
class RunningCopy {
 public:
  RunningCopy(const wchar_t* name, std::function<void()> on_second_start);
  RunningCopy(const RunningCopy&) = delete;
  RunningCopy& operator=(const RunningCopy&) = delete;

 private:
  static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);

  std::function<void()> on_second_start_;
  UniqueWindow window_;           // message-only, it answers the second start
  UniqueKernelHandle published_;  // the named memory that holds the window's handle
};

}  // namespace toolkit
