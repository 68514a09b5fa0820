// One copy of the program per logon session: a second start hands over to the copy that
// runs and ends, so that a window closed in the belief that it stops the countdown never
// leaves another copy counting out of sight (Windows 11 hides a new tray icon behind the
// ^, and a user who sees nothing starts the program again).
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

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
// Whether this process runs elevated (以管理员身份运行): its token's answer, unless a
// test stands in (Wine gives every process the same token).
using ElevationQuery = bool (*)();
extern ElevationQuery runs_elevated;

// The name a copy of the program is found by, in the session's Local\ namespace. Whoever
// holds it is the copy that later starts hand over to: the first start takes it, first
// thing; a start that runs on beside it (its hand-over failed) takes it once the holder
// has gone, however it went.
class RunningCopy {
 public:
  explicit RunningCopy(const wchar_t* name);
  ~RunningCopy();
  RunningCopy(const RunningCopy&) = delete;
  RunningCopy& operator=(const RunningCopy&) = delete;

  // Whether this process holds the name, and so is the copy that later starts hand over to.
  [[nodiscard]] bool HoldsName() const noexcept { return holds_; }

  // Asks the copy that holds the name to come forward, and says whether it will. A copy
  // still starting is waited for until it names its window, up to `publish_wait`, and its
  // answer up to `answer_wait`. False where this process holds the name (or comes to hold
  // it meanwhile, the holder gone), none could be read, or what the name leads to does not
  // answer as a copy of ours (another program's window, a hung copy): this process then
  // starts as usual.
  [[nodiscard]] bool HandOver(std::chrono::milliseconds publish_wait, std::chrono::milliseconds answer_wait) const;

  // Makes the window later starts reach; `on_second_start` runs on the user-interface
  // thread, from the message loop, each time one hands over. Named under the name at once
  // where this process holds it, else as soon as it comes to hold it.
  void Publish(std::function<void()> on_second_start);

  // Stops answering, takes the window's name back and lets the name go, for a copy that
  // waits for it or the next start: before the program quits, so that no start hands over
  // to a copy about to end.
  void Withdraw();

 private:
  static DWORD WINAPI KeepName(void* self);
  static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
  void NameWindow();

  std::wstring name_;
  UniqueKernelHandle holder_;   // a mutex: the thread that owns it holds the name for us
  UniqueKernelHandle mapping_;  // the named memory that holds the window's handle
  UniqueKernelHandle stop_;     // tells the keeper to let the name go
  UniqueKernelHandle tried_;    // set once the keeper has first tried the name
  UniqueKernelHandle keeper_;   // the thread that waits for the name and holds it
  std::atomic<bool> holds_{false};
  std::atomic<HWND> reachable_{nullptr};  // the window, for the keeper to tell
  std::function<void()> on_second_start_;
  UniqueWindow window_;  // message-only, it answers the second start
};

// Brings `form` forward for a second start, as every road shows it (Form::Show): shown,
// restored, in front, or its box in front; while a load this call began is under way, the
// form shows once loaded.
void ComeForward(Form& form);

}  // namespace toolkit
