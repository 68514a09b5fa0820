// The notification-area icon of the main window, driven in-process: the icon's
// messages are sent to the window as the shell would send them.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
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

// Icons shown by Wine's stand-alone tray window (one child window per icon).
int WineTrayIcons() {
  HWND tray = ::FindWindowW(nullptr, L"Wine System Tray");
  if (!tray) return -1;
  int count = 0;
  ::EnumChildWindows(
      tray,
      [](HWND child, LPARAM n) -> BOOL {
        if (::IsWindowVisible(child)) ++*reinterpret_cast<int*>(n);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

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
  EXPECT_EQ(Module1::nid.hIcon, form.SmallIcon());
  EXPECT_NE(Module1::nid.hIcon, nullptr);
  EXPECT_EQ(Module1::nid.szTip[0], L'\0');
  EXPECT_TRUE(IconPresent(form.hwnd()));
  // The icon is the small image at the window's DPI.
  ICONINFO info{};
  ASSERT_TRUE(::GetIconInfo(form.SmallIcon(), &info));
  BITMAP bits{};
  ::GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bits, &bits);
  EXPECT_EQ(bits.bmWidth, ::GetSystemMetricsForDpi(SM_CXSMICON, static_cast<UINT>(form.Dpi())));
  if (info.hbmColor) ::DeleteObject(info.hbmColor);
  ::DeleteObject(info.hbmMask);
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

TEST_F(TrayTest, OnlyALeftDoubleClickOnTheIconShowsTheWindowAtEveryScale) {
  for (int dpi : {96, 120, 144, 192}) {
    SCOPED_TRACE(dpi);
    ChangeDpi(form, dpi);
    ASSERT_EQ(form.Dpi(), dpi);
    ::SendMessageW(form.Command4.hwnd(), BM_CLICK, 0, 0);
    ASSERT_FALSE(form.IsVisible());
    RECT hidden_at{};
    ::GetWindowRect(form.hwnd(), &hidden_at);
    for (UINT ignored : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK,
                         WM_MBUTTONDBLCLK}) {
      SendIconMessage(form, ignored);
      EXPECT_FALSE(form.IsVisible()) << "message " << ignored;
    }
    SendIconMessage(form, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(form.IsVisible());
    RECT shown_at{};
    ::GetWindowRect(form.hwnd(), &shown_at);
    EXPECT_EQ(shown_at.left, hidden_at.left);
    EXPECT_EQ(shown_at.top, hidden_at.top);
  }
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

TEST_F(TrayTest, TheCountdownRunsAndLaunchesWhileHiddenAndTheIconStillRestores) {
  form.Text1.SetText(L"2");
  ::SendMessageW(form.Command1.hwnd(), BM_CLICK, 0, 0);
  ::SendMessageW(form.Command4.hwnd(), BM_CLICK, 0, 0);
  ASSERT_FALSE(form.IsVisible());
  PumpUntil([&] { return !launcher.launches.empty(); }, 4000ms);
  ASSERT_EQ(launcher.launches.size(), 1u);
  EXPECT_EQ(launcher.launches[0].command_line, L"cmd.exe /c shutdown -s -t 3");
  EXPECT_EQ(form.Text1.Text(), L"0");
  EXPECT_TRUE(form.IsLoaded());
  EXPECT_FALSE(form.IsVisible());
  SendIconMessage(form, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(form.IsVisible());
}

TEST_F(TrayTest, ANewDpiGivesTheIconItsSmallImageForThatDpi) {
  ChangeDpi(form, 144);
  EXPECT_EQ(Module1::nid.hIcon, form.SmallIcon());
  EXPECT_TRUE(IconPresent(form.hwnd()));
  ICONINFO info{};
  ASSERT_TRUE(::GetIconInfo(Module1::nid.hIcon, &info));
  BITMAP bits{};
  ::GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bits, &bits);
  EXPECT_EQ(bits.bmWidth, ::GetSystemMetricsForDpi(SM_CXSMICON, 144));
  if (info.hbmColor) ::DeleteObject(info.hbmColor);
  ::DeleteObject(info.hbmMask);
  // After a taskbar restart the icon is added with the live picture, not a freed one.
  ::Shell_NotifyIconW(NIM_DELETE, &Module1::nid);
  ::SendMessageW(form.hwnd(), tray::TaskbarCreatedMessage(), 0, 0);
  EXPECT_TRUE(IconPresent(form.hwnd()));
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
