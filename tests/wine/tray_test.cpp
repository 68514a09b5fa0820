// The notification-area icon of the main window, driven in-process: the icon's
// messages are sent to the window as the shell would send them.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "about/about_form.h"
#include "main_window/main_form.h"
#include "tests/wine/test_support.h"
#include "tray/module1.h"

namespace {

using namespace std::chrono_literals;
using test_support::Pump;
using test_support::PumpUntil;
using test_support::RecordingLauncher;
using SilentPrompter = test_support::ScriptedPrompter;

// Whether the shell knows our icon: changing an icon that is not there fails.
bool IconPresent(HWND owner) {
  NOTIFYICONDATAW probe{};
  probe.cbSize = sizeof probe;
  probe.hWnd = owner;
  probe.uID = 1;
  return ::Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

BOOL CALLBACK CountIfVisible(HWND child, LPARAM n) {
  if (::IsWindowVisible(child)) ++*reinterpret_cast<int*>(n);
  return TRUE;
}

// Icons shown by Wine's stand-alone tray window (one child window per icon).
int WineTrayIcons() {
  HWND tray = ::FindWindowW(nullptr, L"Wine System Tray");
  if (!tray) return -1;
  int count = 0;
  ::EnumChildWindows(tray, &CountIfVisible, reinterpret_cast<LPARAM>(&count));
  return count;
}

// What the notification state query answers in the tray countdown test.
QUERY_USER_NOTIFICATION_STATE answer;

HRESULT WINAPI AnswerNotificationState(QUERY_USER_NOTIFICATION_STATE* state) {
  *state = answer;
  return S_OK;
}

// The width of an icon's picture.
int IconWidth(HICON icon) {
  ICONINFO info{};
  if (!::GetIconInfo(icon, &info)) return 0;
  BITMAP bits{};
  ::GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bits, &bits);
  if (info.hbmColor) ::DeleteObject(info.hbmColor);
  ::DeleteObject(info.hbmMask);
  return bits.bmWidth;
}

// Stands in for a shell too busy to answer: it refuses the next `refusals` calls, then
// passes calls on to the real one. A refused call can still be carried out, as an add
// that timed out sometimes is. The last call, and the notifications shown, are noted.
class BusyShell {
 public:
  explicit BusyShell(int refusals, bool carried_out_anyway = false) {
    refusals_left_ = refusals;
    carried_out_anyway_ = carried_out_anyway;
    refuses_notices_ = false;
    notices_.clear();
    previous_ = std::exchange(Module1::shell_notify_icon, &Call);
  }
  ~BusyShell() { Module1::shell_notify_icon = previous_; }
  BusyShell(const BusyShell&) = delete;
  BusyShell& operator=(const BusyShell&) = delete;

  [[nodiscard]] int RefusalsLeft() const noexcept { return refusals_left_; }
  // From now on every notification is refused, as a shell may refuse it.
  void RefuseNotices(bool refuse) noexcept { refuses_notices_ = refuse; }
  [[nodiscard]] DWORD LastCall() const noexcept { return last_call_; }
  // The notifications shown: title, text and flags run together.
  [[nodiscard]] const std::vector<std::wstring>& Notices() const noexcept { return notices_; }

 private:
  static BOOL WINAPI Call(DWORD message, PNOTIFYICONDATAW data) {
    last_call_ = message;
    if (message == NIM_MODIFY && (data->uFlags & NIF_INFO)) {
      notices_.push_back(std::wstring(data->szInfoTitle) + L"|" + data->szInfo + L"|" +
                         std::to_wstring(data->dwInfoFlags));
      if (refuses_notices_) return FALSE;
    }
    if (refusals_left_ <= 0) return ::Shell_NotifyIconW(message, data);
    --refusals_left_;
    if (carried_out_anyway_) (void)::Shell_NotifyIconW(message, data);
    return FALSE;
  }

  static inline int refusals_left_ = 0;
  static inline bool carried_out_anyway_ = false;
  static inline bool refuses_notices_ = false;
  static inline DWORD last_call_ = 0;
  static inline std::vector<std::wstring> notices_;
  Module1::ShellNotifyIconFunction previous_ = nullptr;
};

void SendIconMessage(const main_window::main& form, UINT mouse_message) {
  ::SendMessageW(form.hwnd(), WM_MOUSEMOVE, 1, static_cast<LPARAM>(mouse_message));
}

void ChangeDpi(main_window::main& form, int dpi) {
  RECT r{};
  ::GetWindowRect(form.hwnd(), &r);
  ::SendMessageW(form.hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&r));
}

class TrayTest : public ::testing::Test {
 protected:
  RecordingLauncher launcher;
  SilentPrompter prompter;
  main_window::main form{{launcher, prompter, L"www.morvane.example"}};

  void SetUp() override {
    ::SetCursorPos(0, 0);  // away from the window, where a test may have left it
    form.Show();
    Pump(100ms);
  }
  void TearDown() override { form.Unload(); }
};

TEST_F(TrayTest, LoadAddsOneIconWithTheRecordFilledForTheMainWindow) {
  EXPECT_EQ(Module1::nid.hWnd, form.hwnd());
  EXPECT_EQ(Module1::nid.uID, 1u);
  EXPECT_EQ(Module1::nid.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_EQ(Module1::nid.uFlags, 7u);
  EXPECT_EQ(Module1::nid.uCallbackMessage, static_cast<UINT>(WM_MOUSEMOVE));
  EXPECT_NE(Module1::nid.hIcon, nullptr);
  EXPECT_EQ(Module1::nid.szTip[0], L'\0');
  EXPECT_EQ(Module1::nid.uVersion, static_cast<UINT>(NOTIFYICON_VERSION));  // the id in wparam, as before
  EXPECT_TRUE(IconPresent(form.hwnd()));
  // The picture is made for the shell's small-icon size, not for the window's DPI.
  EXPECT_EQ(IconWidth(Module1::nid.hIcon), ::GetSystemMetrics(SM_CXSMICON));
}

TEST_F(TrayTest, MinimiseHidesAndLeavesExactlyOneIconHoweverOftenPressed) {
  const int before = WineTrayIcons();
  for (int i = 0; i < 3; ++i) {
    ::SendMessageW(form.Command4.hwnd(), BM_CLICK, 0, 0);
    Pump(50ms);
  }
  EXPECT_FALSE(form.IsVisible());
  EXPECT_TRUE(form.IsLoaded());
  EXPECT_TRUE(IconPresent(form.hwnd()));
  if (before >= 0) {
    EXPECT_EQ(WineTrayIcons(), before);
  }
}

// At version 3 a click also brings NIN_SELECT and a right click WM_CONTEXTMENU; Enter or
// Space on the icon chosen with the keyboard brings NIN_KEYSELECT, and a click on the
// icon's notification NIN_BALLOONUSERCLICK.
TEST_F(TrayTest, OnlyALeftDoubleClickOrTheKeyboardsSelectOnTheIconShowsTheWindowAtEveryScale) {
  for (int dpi : {96, 120, 144, 192}) {
    SCOPED_TRACE(dpi);
    ChangeDpi(form, dpi);
    ASSERT_EQ(form.Dpi(), dpi);
    ::SendMessageW(form.Command4.hwnd(), BM_CLICK, 0, 0);
    ASSERT_FALSE(form.IsVisible());
    RECT hidden_at{};
    ::GetWindowRect(form.hwnd(), &hidden_at);
    for (UINT ignored : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK,
                         WM_MBUTTONDBLCLK, NIN_SELECT, WM_CONTEXTMENU, NIN_BALLOONSHOW, NIN_BALLOONTIMEOUT}) {
      SendIconMessage(form, ignored);
      EXPECT_FALSE(form.IsVisible()) << "message " << ignored;
    }
    SendIconMessage(form, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(form.IsVisible());
    RECT shown_at{};
    ::GetWindowRect(form.hwnd(), &shown_at);
    EXPECT_EQ(shown_at.left, hidden_at.left);
    EXPECT_EQ(shown_at.top, hidden_at.top);
    for (UINT shows : {NIN_KEYSELECT, NIN_BALLOONUSERCLICK}) {
      ::SendMessageW(form.Command4.hwnd(), BM_CLICK, 0, 0);
      SendIconMessage(form, shows);
      EXPECT_TRUE(form.IsVisible()) << "message " << shows;
    }
  }
  // Back by the keyboard's select, the focus is on 最小化, where the Enter that chose the
  // icon may land too, already down: it presses nothing. A fresh Enter presses.
  ::SendMessageW(form.Command4.hwnd(), BM_CLICK, 0, 0);
  SendIconMessage(form, NIN_KEYSELECT);
  ASSERT_EQ(::GetFocus(), form.Command4.hwnd());
  ::PostMessageW(form.Command4.hwnd(), WM_KEYDOWN, VK_RETURN, 0x40000001);
  Pump(50ms);
  EXPECT_TRUE(form.IsVisible() && !form.Timer1.Enabled()) << "one Enter pressed twice";
  ::SetFocus(form.Command4.hwnd());  // Wine's display may have taken the foreground meanwhile
  ::PostMessageW(form.Command4.hwnd(), WM_KEYDOWN, VK_RETURN, 0x00000001);
  Pump(50ms);
  EXPECT_FALSE(form.IsVisible());
}

TEST_F(TrayTest, RealMouseMovesOverTheWindowDoNothingEvenWhereXIsTheDoubleClickCode) {
  // At 200 % the client area is wider than 515 pixels, so a real pointer can be there.
  ChangeDpi(form, 192);
  POINT at{515, 0};
  ::ClientToScreen(form.hwnd(), &at);
  ::SetCursorPos(at.x, at.y);
  Pump(50ms);
  ::SendMessageW(form.Command4.hwnd(), BM_CLICK, 0, 0);
  ASSERT_FALSE(form.IsVisible());
  ::PostMessageW(form.hwnd(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(515, 0));
  Pump(100ms);
  EXPECT_FALSE(form.IsVisible());
}

// Hidden, a countdown warns through the icon at every step from 61 to 60, also when it
// was raised above a minute after 开始计时; not one never above it, nor one whose window is
// shown. Its window comes up as well, above the window in front but without the focus,
// and flashes: Windows may swallow a notice it said it would show (focus assist).
TEST_F(TrayTest, TheCountdownRunsWarnsAndLaunchesWhileHiddenAndTheIconStillRestores) {
  BusyShell shell(0);
  const auto count_from = [&](const wchar_t* start, const wchar_t* then, bool hidden, HWND front = nullptr) {
    form.Timer1.SetEnabled(false);
    form.Text1.SetText(start);
    ::SendMessageW(form.Command1.hwnd(), BM_CLICK, 0, 0);
    form.Text1.SetText(then);
    if (hidden) ::SendMessageW(form.Command4.hwnd(), BM_CLICK, 0, 0);
    if (front) {  // the user went on to another window, which is now above ours
      ::SetForegroundWindow(front);
      ::SetWindowPos(front, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
    EXPECT_TRUE(PumpUntil([&] { return form.Text1.Text() == L"59"; }, 5000ms));
  };
  count_from(L"61", L"61", false);
  count_from(L"60", L"60", true);
  EXPECT_TRUE(shell.Notices().empty()) << "told while shown, or for a countdown never above a minute";
  // Hidden, or minimised, on a monitor that has gone since: back by the icon, it is on
  // one, as it was.
  RECT before{};
  ::GetWindowRect(form.hwnd(), &before);
  const int dpi = form.Dpi();
  for (const bool minimised : {false, true}) {
    ::SetWindowPos(form.hwnd(), nullptr, -20000, -20000, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (minimised) ::ShowWindow(form.hwnd(), SW_SHOWMINNOACTIVE);  // restored where it was
    SendIconMessage(form, WM_LBUTTONDBLCLK);
    RECT after{};
    ::GetWindowRect(form.hwnd(), &after);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ASSERT_TRUE(::GetMonitorInfoW(::MonitorFromWindow(form.hwnd(), MONITOR_DEFAULTTONEAREST), &monitor));
    RECT on_screen{};
    ::IntersectRect(&on_screen, &after, &monitor.rcWork);
    EXPECT_TRUE(::EqualRect(&on_screen, &after)) << minimised << ": " << after.left << ", " << after.top;
    EXPECT_EQ(after.right - after.left, before.right - before.left);
    EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);
    EXPECT_EQ(form.Dpi(), dpi);
    form.Hide();
  }
  ::SendMessageW(form.Option2.hwnd(), BM_CLICK, 0, 0);
  count_from(L"30", L"63", true);
  const std::wstring warning =
      L"Morvane关机|计算机将在 60 秒后重启，所有程序都会被关闭，未保存的内容将会丢失。"
      L"要停止，请点击本通知或双击通知区域中的图标打开窗口，然后关闭窗口。|2";  // NIIF_WARNING
  EXPECT_EQ(shell.Notices(), std::vector<std::wstring>{warning});
  EXPECT_EQ(Module1::nid.uFlags, 7u) << "a later change of the icon would show it again";
  EXPECT_TRUE(form.IsVisible());

  ::SendMessageW(form.Command4.hwnd(), BM_CLICK, 0, 0);
  form.Text1.SetText(L"2");
  ASSERT_FALSE(form.IsVisible());
  PumpUntil([&] { return !launcher.launches.empty(); }, 4000ms);
  ASSERT_EQ(launcher.launches.size(), 1u);
  EXPECT_EQ(launcher.launches[0].command_line, L"cmd.exe /c shutdown -r -t 3");
  ASSERT_TRUE(launcher.End(0, 0));  // accepted, before it could be told as still running
  EXPECT_EQ(shell.Notices(), std::vector<std::wstring>{warning});
  EXPECT_EQ(form.Text1.Text(), L"0");
  EXPECT_TRUE(form.IsLoaded());
  EXPECT_FALSE(form.IsVisible());
  SendIconMessage(form, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(form.IsVisible());

  const test_support::RecordingFlash flash;
  const toolkit::UniqueWindow other(
      ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr));
  const test_support::StandIn<tray::NotificationStateQuery> stand_in(tray::query_notification_state,
                                                                     &AnswerNotificationState);
  const auto above_other = [&] {
    HWND below = form.hwnd();
    while (below && below != other.get()) below = ::GetWindow(below, GW_HWNDNEXT);
    return below != nullptr;
  };
  // Busy (a full-screen program); accepts, and the shell refuses; accepts, and it takes it.
  for (const auto& [state, refused] : {std::pair{QUNS_BUSY, false}, std::pair{QUNS_ACCEPTS_NOTIFICATIONS, true},
                                       std::pair{QUNS_ACCEPTS_NOTIFICATIONS, false}}) {
    SCOPED_TRACE(testing::Message() << state << (refused ? " refused" : ""));
    answer = state;
    shell.RefuseNotices(refused);
    count_from(L"61", L"61", true, other.get());
    EXPECT_TRUE(form.IsVisible()) << "the window stayed hidden";
    EXPECT_TRUE(above_other()) << "the window came up below the one in front";
    EXPECT_EQ(::GetForegroundWindow(), other.get()) << "the window took the focus";
    EXPECT_EQ(::GetFocus(), other.get());
  }
  EXPECT_EQ(flash.Flashed(), std::vector<HWND>(3, form.hwnd()));
  EXPECT_EQ(shell.Notices().size(), 3u) << "a notice sent while Windows would not show it, or none where it would";
}

TEST_F(TrayTest, TheIconKeepsTheShellsSizeAcrossWindowDpiChangesAndIsLoadedAgainWithTheTaskbar) {
  // The notification area is on the taskbar's monitor, wherever the window goes.
  const HICON before = Module1::nid.hIcon;
  ChangeDpi(form, 144);
  EXPECT_EQ(Module1::nid.hIcon, before);
  EXPECT_EQ(IconWidth(Module1::nid.hIcon), ::GetSystemMetrics(SM_CXSMICON));
  EXPECT_TRUE(IconPresent(form.hwnd()));
  // A new taskbar may be at another scale: a fresh picture, added, and the old one freed.
  ::Shell_NotifyIconW(NIM_DELETE, &Module1::nid);
  ::SendMessageW(form.hwnd(), tray::TaskbarCreatedMessage(), 0, 0);
  EXPECT_TRUE(IconPresent(form.hwnd()));
  EXPECT_NE(Module1::nid.hIcon, before);
  EXPECT_EQ(IconWidth(Module1::nid.hIcon), ::GetSystemMetrics(SM_CXSMICON));
  ICONINFO info{};
  EXPECT_FALSE(::GetIconInfo(before, &info)) << "the old picture is never freed";
}

// A busy shell times out and refuses; the window is hidden only while its icon, the one
// way back, is really there.
TEST_F(TrayTest, MinimiseLeavesTheWindowOnScreenWhileTheShellRefusesTheIconAndRetriesAddIt) {
  ::Shell_NotifyIconW(NIM_DELETE, &Module1::nid);  // the shell lost the icon
  {
    BusyShell shell(4);  // 最小化's check and add, then the first retry's add and check
    ::SendMessageW(form.Command4.hwnd(), BM_CLICK, 0, 0);
    EXPECT_TRUE(form.IsVisible());
    EXPECT_FALSE(IconPresent(form.hwnd()));
    EXPECT_TRUE(PumpUntil([&] { return IconPresent(form.hwnd()); }, 6000ms)) << "no retry added the icon";
    EXPECT_EQ(shell.RefusalsLeft(), 0);
    EXPECT_EQ(shell.LastCall(), static_cast<DWORD>(NIM_SETVERSION)) << "the shell forgets the version with the icon";
  }
  EXPECT_TRUE(form.IsVisible()) << "a later add hid the window: only 最小化 does";
  ::SendMessageW(form.Command4.hwnd(), BM_CLICK, 0, 0);
  EXPECT_FALSE(form.IsVisible());
  SendIconMessage(form, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(form.IsVisible());
}

TEST_F(TrayTest, AfterATaskbarRestartTheWindowIsNeverLeftHiddenWithoutItsIcon) {
  ::SendMessageW(form.Command4.hwnd(), BM_CLICK, 0, 0);
  ASSERT_FALSE(form.IsVisible());
  {
    // The add timed out but the shell carried it out: the icon is there, the window
    // stays hidden, and no retry knocks on the shell with adds it refuses as doubles.
    ::Shell_NotifyIconW(NIM_DELETE, &Module1::nid);
    BusyShell shell(1, true);
    ::SendMessageW(form.hwnd(), tray::TaskbarCreatedMessage(), 0, 0);
    EXPECT_TRUE(IconPresent(form.hwnd()));
    EXPECT_FALSE(form.IsVisible());
    EXPECT_EQ(shell.LastCall(), static_cast<DWORD>(NIM_SETVERSION));
  }
  {
    // The new taskbar refuses the icon: the window comes back on screen, and the icon
    // follows on a retry.
    ::Shell_NotifyIconW(NIM_DELETE, &Module1::nid);
    BusyShell shell(2);
    ::SendMessageW(form.hwnd(), tray::TaskbarCreatedMessage(), 0, 0);
    EXPECT_TRUE(form.IsVisible());
    EXPECT_TRUE(PumpUntil([&] { return IconPresent(form.hwnd()); }, 4000ms)) << "no retry added the icon";
  }
  EXPECT_TRUE(form.IsVisible());
}

TEST_F(TrayTest, TheIconComesBackWhenTheTaskbarIsRecreated) {
  // The shell forgets every icon when it restarts; it then broadcasts "TaskbarCreated".
  ::Shell_NotifyIconW(NIM_DELETE, &Module1::nid);
  ASSERT_FALSE(IconPresent(form.hwnd()));
  ::SendMessageW(form.hwnd(), tray::TaskbarCreatedMessage(), 0, 0);
  EXPECT_TRUE(IconPresent(form.hwnd()));
}

TEST_F(TrayTest, ClosingTheMainWindowRemovesTheIconEvenWhenTheAboutWindowStaysOpen) {
  about::gy about_form;
  form.SetAboutWindow(&about_form);
  ::SendMessageW(form.Command3.hwnd(), BM_CLICK, 0, 0);
  ASSERT_TRUE(about_form.IsLoaded());
  const HWND main_hwnd = form.hwnd();
  ::SendMessageW(main_hwnd, WM_CLOSE, 0, 0);
  EXPECT_FALSE(form.IsLoaded());
  EXPECT_FALSE(IconPresent(main_hwnd));
  EXPECT_TRUE(about_form.IsLoaded());
  about_form.Unload();
}

TEST(TrayLifetime, DestroyingTheMainWindowWithoutAnUnloadStillRemovesTheIcon) {
  RecordingLauncher launcher;
  SilentPrompter prompter;
  HWND hwnd = nullptr;
  {
    main_window::main form{{launcher, prompter, L"www.morvane.example"}};
    form.Show();
    hwnd = form.hwnd();
    ASSERT_TRUE(IconPresent(hwnd));
  }
  EXPECT_FALSE(IconPresent(hwnd));
}

}  // namespace
