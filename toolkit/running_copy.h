// One copy of the program per logon session: a second start hands over to the copy that
// runs and ends, so that a window closed in the belief that it stops the countdown never
// leaves another copy counting out of sight (Windows 11 hides a new tray icon behind the
// ^, and a user who sees nothing starts the program again).
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>

#include "toolkit/form.h"
#include "toolkit/handles.h"

namespace toolkit {

// Where the running copy lets the hand-over through Windows' message filter (UIPI), and
// where a second start lends it the foreground: Windows' own functions, unless a test
// stands in to see what is asked of them (Wine has no integrity levels).
using MessageFilterFunction = BOOL(WINAPI*)(HWND, UINT, DWORD, PCHANGEFILTERSTRUCT);
extern MessageFilterFunction change_message_filter;
using LendForegroundFunction = BOOL(WINAPI*)(DWORD);
extern LendForegroundFunction lend_foreground;

// The name a copy of the program is found by, in the session's Local\ namespace: the
// first start takes it, first thing, and a later one finds it taken.
class RunningCopy {
 public:
  explicit RunningCopy(const wchar_t* name);
  RunningCopy(const RunningCopy&) = delete;
  RunningCopy& operator=(const RunningCopy&) = delete;

  // Whether this process took the name, and so is the copy that later starts hand over to.
  [[nodiscard]] bool HoldsName() const noexcept { return holds_; }

  // Asks the copy that holds the name to come forward, and says whether it will. A copy
  // still starting is waited for until it names its window, up to `publish_wait`, and its
  // answer up to `answer_wait`. False where this process holds the name, none could be
  // read, or what the name leads to does not answer as a copy of ours (another program's
  // window, a hung copy): this process then starts as usual.
  [[nodiscard]] bool HandOver(std::chrono::milliseconds publish_wait, std::chrono::milliseconds answer_wait) const;

  // Names this process's window under the name it holds, so that later starts reach it;
  // `on_second_start` runs on the user-interface thread, from the message loop, each time
  // one hands over. Where the name is another copy's, this copy stays unreachable and
  // leaves the name to its holder.
  void Publish(std::function<void()> on_second_start);

 private:
  static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);

  UniqueKernelHandle mapping_;  // the named memory that holds the window's handle
  bool holds_ = false;
  std::function<void()> on_second_start_;
  UniqueWindow window_;  // message-only, it answers the second start
};

// Brings `form` forward for a second start: shown, restored, in front. While a box of
// its own holds the input (the form disabled beneath it), the box comes to the front
// instead; while a load this call began is under way, the form shows once loaded.
void ComeForward(Form& form);

}  // namespace toolkit
