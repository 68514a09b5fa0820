// Process start: the splash window first, and the advertisement requests behind it.
// The process ends when its last window has closed.
#include <windows.h>

#include <chrono>

#include "about/about_form.h"
#include "app/publisher.h"
#include "app/splash.h"
#include "main_window/main_form.h"
#include "toolkit/common_controls.h"
#include "toolkit/message_box.h"
#include "toolkit/message_loop.h"
#include "toolkit/newer_windows.h"
#include "toolkit/power.h"
#include "toolkit/process.h"
#include "toolkit/running_copy.h"

namespace {

// The mutex that tells a later start of the program in this session that a copy is
// starting or running: Local\ is the session's, and a copy run as administrator or with
// runas, in another logon session, is in the same session. Named, like the window it then
// finds, for the hand-over's version (see toolkit/running_copy.cpp): a copy of an earlier
// release is not found, nor does it find this one.
constexpr wchar_t kRunningCopyMutex[] = L"Local\\MorvaneShutdown.RunningCopy.4";
// How long a later start waits, all told, for a copy to answer (one that is starting, or
// busy) before starting as usual: as long as Windows takes to call a copy hung.
constexpr std::chrono::seconds kStartWait{5};

// How long ago this process was started, which the load's time limit counts from.
std::chrono::milliseconds SinceProcessStart() {
  FILETIME created{};
  FILETIME exited{};
  FILETIME kernel{};
  FILETIME user{};
  if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return {};
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  if (ticks(now) < ticks(created)) return {};
  return std::chrono::milliseconds((ticks(now) - ticks(created)) / 10000);  // 100 ns units
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Where DLLs may come from (toolkit/newer_windows.cpp, which the window tests share):
  // before any window, control or COM call.
  toolkit::LoadDllsFromTheSystemFolderOnly();
  // A copy that runs already, perhaps out of sight behind Windows 11's ^, shows its window
  // instead of a second countdown starting beside it. The mutex is made before anything
  // else, so that of two starts close together (a double-click twice, an autostart and a
  // click) the later one knows to wait for the other.
  toolkit::RunningCopy running_copy(kRunningCopyMutex);
  if (running_copy.HandOver(kStartWait)) return 0;
  if (!toolkit::LoadCommonControls()) {
    // No window can be made without it. (Where comctl32 itself is missing, even the box
    // may fail, its controls being comctl32's: the program ends all the same.)
    toolkit::MessageBoxPrompter().MsgBox(nullptr, L"无法加载 Windows 的通用控件库（comctl32.dll），程序无法运行。",
                                         toolkit::kCriticalOk, toolkit::kErrorTitle);
    return 1;
  }

  toolkit::ProcessLauncher launcher;
  toolkit::MessageBoxPrompter prompter;
  toolkit::Inet1 inet1;
  toolkit::SystemIdleSleepHold sleep_hold;
  about::gy about_form;
  main_window::main main_form({launcher, prompter, app::kPublisherHost, &inet1, &sleep_hold});
  main_form.SetAboutWindow(&about_form);
  app::ld splash(main_form);

  // Once its close is decided, the copy is found no more, before its windows talk to
  // Explorer: a start meanwhile would hand over to a copy about to end, and nothing would
  // show.
  toolkit::Form::SetQuitWhenLastClosed(true, [&] { running_copy.Withdraw(); });
  splash.Show();
  // The requests go out while the splash shows; the main window's load takes their
  // answers. The whole wait is bounded from process start.
  main_form.BeginAdvertFetch(toolkit::InetClock::now() - SinceProcessStart() + adverts::kLoadBudget);
  // Found by later starts from here on, its loop about to run: its window is made after
  // the splash shows, which it would otherwise delay; a start meanwhile waits for it.
  running_copy.Publish([&] {
    // At its splash, the main window shows once it has loaded, as ever.
    if (!splash.IsLoaded()) toolkit::ComeForward(main_form);
  });
  return toolkit::RunMessageLoop();
}
