// One copy of the program per session: a second start hands over to the copy that runs
// and ends, so that a window closed in the belief that it stops the countdown never
// leaves another copy counting out of sight (Windows 11 hides a new tray icon behind the
// ^, and a user who sees nothing starts the program again).
//
// Nothing passes from copy to copy: every copy owns a message-only window of our class,
// which a start finds and asks, and which goes with its process however that ends.
#pragma once

#include <windows.h>

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
// Whether this process runs above medium integrity, as run as administrator does (UAC's
// elevation, the built-in Administrator, another administrator's password typed in):
// its token's answer, unless a test stands in (Wine gives every process the same token).
using ElevationQuery = bool (*)();
extern ElevationQuery runs_elevated;

class RunningCopy {
 public:
  // Made first thing: a named mutex in the session's Local\ namespace, which says only
  // whether another copy is starting or running. (Per session, not per logon session: a
  // copy started with runas, or as administrator, shares it, or is denied it.)
  explicit RunningCopy(const wchar_t* mutex_name);
  ~RunningCopy();
  RunningCopy(const RunningCopy&) = delete;
  RunningCopy& operator=(const RunningCopy&) = delete;

  // Whether the mutex was there before this copy: another copy is starting or running.
  [[nodiscard]] bool AnotherMayRun() const noexcept { return another_; }

  // Asks the copies of ours that it finds, one after the other, to come forward, and
  // says whether one will. Where another copy may be starting, waits for one that answers.
  // All of it, each copy's answer included, takes at most `start_wait`: a copy busy for a
  // few seconds is still reached, and a frozen one costs a start no more. False where none
  // answers (none runs, or it hangs): this process then starts as usual.
  [[nodiscard]] bool HandOver(std::chrono::milliseconds start_wait);

  // Makes the window later starts find; `on_second_start` runs on the user-interface
  // thread, from the message loop, each time one hands over.
  void Publish(std::function<void()> on_second_start);

  // No longer found, and no longer keeping a start waiting: before the program's close
  // talks to anyone, so that a start a moment later starts at once.
  void Withdraw();

 private:
  static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
  // Whether this process made the mutex afresh; sets `another_`.
  bool MakeMutex();

  std::wstring mutex_name_;
  UniqueKernelHandle mutex_;
  bool another_ = false;
  std::function<void()> on_second_start_;
  UniqueWindow window_;  // message-only, it answers later starts
};

// Brings `form` forward for a second start, as every road shows it (Form::Show): shown,
// restored, in front, or its box in front; while a load this call began is under way, the
// form shows once loaded.
void ComeForward(Form& form);

}  // namespace toolkit
