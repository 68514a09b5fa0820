// The About window, in-process: its layout, that it is modeless and single, and that
// it outlives the main window.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "about/about_form.h"
#include "main_window/main_form.h"
#include "tests/wine/test_support.h"
#include "toolkit/dpi.h"
#include "toolkit/newer_windows.h"

namespace {

using namespace std::chrono_literals;
using test_support::Pump;
using test_support::PumpUntil;
using test_support::RecordingLauncher;
using SilentPrompter = test_support::ScriptedPrompter;

struct TopLevelSearch {
  const wchar_t* caption;
  int count;
};

BOOL CALLBACK CountIfShownWithCaption(HWND hwnd, LPARAM data) {
  auto* search = reinterpret_cast<TopLevelSearch*>(data);
  wchar_t text[64] = {};
  ::GetWindowTextW(hwnd, text, 64);
  if (std::wstring(text) == search->caption && ::IsWindowVisible(hwnd)) ++search->count;
  return TRUE;
}

int CountTopLevel(const wchar_t* caption) {
  TopLevelSearch search{caption, 0};
  ::EnumThreadWindows(::GetCurrentThreadId(), &CountIfShownWithCaption, reinterpret_cast<LPARAM>(&search));
  return search.count;
}

class AboutTest : public ::testing::Test {
 protected:
  RecordingLauncher launcher;
  SilentPrompter prompter;
  about::gy about_form;
  main_window::main form{{launcher, prompter, L"www.morvane.example"}};

  void SetUp() override {
    form.SetAboutWindow(&about_form);
    form.Show();
  }
  void TearDown() override {
    form.Unload();
    about_form.Unload();
  }
  void ClickAbout() { ::SendMessageW(form.Command3.hwnd(), BM_CLICK, 0, 0); }
};

TEST_F(AboutTest, ShowsTheNoticePictureAndCopyrightInAFixedWindow) {
  ClickAbout();
  ASSERT_TRUE(about_form.IsVisible());
  HWND hwnd = about_form.hwnd();
  wchar_t caption[32] = {};
  ::GetWindowTextW(hwnd, caption, 32);
  EXPECT_STREQ(caption, L"关于");
  // At 96 DPI, or each scaled at another system DPI (Windows 7 at 125 %, say).
  const int dpi = about_form.Dpi();
  EXPECT_EQ(dpi, toolkit::ScreenDpi());
  const auto px = [dpi](int at96) { return ::MulDiv(at96, dpi, 96); };
  RECT client{};
  ::GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, px(364));
  EXPECT_EQ(client.bottom, px(169));
  const LONG_PTR style = ::GetWindowLongPtrW(hwnd, GWL_STYLE);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_TRUE(style & WS_CAPTION);

  const std::wstring notice = about_form.Label2.Text();
  const std::wstring head = L"Morvane关机工具V2014，迎新年版   Core：2.0.0";
  EXPECT_EQ(notice.substr(0, head.size()), head);
  EXPECT_NE(notice.find(L'@'), std::wstring::npos) << "a suggestions address follows";
  EXPECT_GT(notice.size(), head.size() + 20);
  EXPECT_EQ(about_form.Command1.Text(), L"确定");
  EXPECT_NE(about_form.Label1.Text().find(L"Morvane"), std::wstring::npos);

  const RECT image = test_support::RectInParent(about_form.Image1.hwnd());
  EXPECT_EQ(image.left, px(8));
  EXPECT_EQ(image.top, px(8));
  EXPECT_EQ(image.right - image.left, px(115));
  EXPECT_EQ(image.bottom - image.top, px(115));
  EXPECT_EQ(about_form.Image1.Text(), L"Morvane关机");  // its name; an owner-drawn static draws no text
  const RECT ok = test_support::RectInParent(about_form.Command1.hwnd());
  EXPECT_EQ(ok.left, px(288));
  EXPECT_EQ(ok.top, px(128));
  EXPECT_EQ(ok.right - ok.left, px(73));
  EXPECT_EQ(ok.bottom - ok.top, px(33));
  EXPECT_EQ(about_form.Label2.ForeColor(), RGB(255, 0, 0));
  EXPECT_EQ(::GetNextDlgTabItem(hwnd, nullptr, FALSE), about_form.Command1.hwnd());
  for (int dpi : {96, 120, 144, 192}) {
    RECT window{};
    ::GetWindowRect(hwnd, &window);
    ::SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&window));
    EXPECT_TRUE(test_support::TextFits(about_form.Label1.hwnd())) << "the copyright line at " << dpi << " DPI";
  }
}

HRESULT WINAPI TwiceTheSystemDpi(HMONITOR, int, UINT* x, UINT* y) {
  *x = *y = static_cast<UINT>(2 * toolkit::ScreenDpi());
  return S_OK;
}

// As on Windows 8.1 on a monitor at twice the scale of sign-in, where Windows draws the
// frame at the system DPI around the client area at the monitor's: centred all the same.
TEST_F(AboutTest, AsOnWindows81ItIsCentredAtTheMonitorsScale) {
  const toolkit::NewerWindows newer = toolkit::HideNewerWindows({.GetDpiForMonitor = &TwiceTheSystemDpi});
  ClickAbout();
  toolkit::HideNewerWindows(newer);
  ASSERT_EQ(about_form.Dpi(), 2 * toolkit::ScreenDpi());
  RECT window{}, work{};  // the primary monitor's, where the window is made and centred
  ::GetWindowRect(about_form.hwnd(), &window);
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_NEAR(window.left + window.right, work.left + work.right, 1) << "the gaps left and right differ";
  EXPECT_NEAR(window.top + window.bottom, work.top + work.bottom, 1) << "the gaps above and below differ";
}

TEST_F(AboutTest, ASecondClickShowsTheSameWindowAndNeverASecondOne) {
  ClickAbout();
  const HWND first = about_form.hwnd();
  ClickAbout();
  EXPECT_EQ(about_form.hwnd(), first);
  EXPECT_EQ(CountTopLevel(L"关于"), 1);
}

TEST_F(AboutTest, OkAndTheCloseBoxBothCloseItAndItOpensAfreshAfterwards) {
  ClickAbout();
  ::SendMessageW(about_form.Command1.hwnd(), BM_CLICK, 0, 0);
  EXPECT_FALSE(about_form.IsLoaded());
  EXPECT_EQ(CountTopLevel(L"关于"), 0);
  ClickAbout();
  ASSERT_TRUE(about_form.IsVisible());
  ::SendMessageW(about_form.hwnd(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(about_form.IsLoaded());
  ClickAbout();
  EXPECT_TRUE(about_form.IsVisible());
}

// Wine cannot switch high contrast on (SPI_SETHIGHCONTRAST fails), so the test answers
// for the system and announces the change as Windows does.
TEST_F(AboutTest, UnderHighContrastTheRedNoticeTakesTheSystemsColoursAndFollowsAChange) {
  static bool high_contrast = false;
  const test_support::StandIn<toolkit::HighContrastQuery> stand_in(toolkit::high_contrast_query,
                                                                   [] { return high_contrast; });
  ClickAbout();
  HDC dc = ::CreateCompatibleDC(nullptr);
  const auto text_colour = [&](const toolkit::Control& label) {
    ::SendMessageW(about_form.hwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(label.hwnd()));
    return ::GetTextColor(dc);
  };
  const COLORREF plain = text_colour(about_form.Label1);
  for (bool on : {true, false}) {
    high_contrast = on;
    ::UpdateWindow(about_form.hwnd());
    ::SendMessageW(about_form.hwnd(), WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
    EXPECT_TRUE(::GetUpdateRect(about_form.Label2.hwnd(), nullptr, FALSE)) << "not repainted after the change";
    EXPECT_EQ(text_colour(about_form.Label2), on ? plain : RGB(255, 0, 0));
  }
  ::DeleteDC(dc);
}

// The keys of the box test below, one step a tick, from the box's own loop.
main_window::main* owner = nullptr;
HWND about_ok = nullptr;
int step = 0;
bool open_after_held_keys = false;
bool box_came_forward = false;

void CALLBACK StepThroughTheBox(HWND, UINT, UINT_PTR, DWORD) {
  HWND box = ::FindWindowW(L"#32770", L"Morvane box");
  if (step == 2) {
    open_after_held_keys = ::IsWindow(box);
    // The user went on to another program; then a road shows the main window.
    const toolkit::UniqueWindow other(
        ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr));
    ::SetForegroundWindow(other.get());
    owner->Show();
    box_came_forward = ::GetForegroundWindow() == box && ::IsChild(box, ::GetFocus());
  }
  if (step == 0) ::PostMessageW(about_ok, WM_KEYDOWN, VK_ESCAPE, 1);
  if (step == 1)
    for (UINT key : {WM_KEYDOWN, WM_KEYUP}) ::PostMessageW(::GetFocus(), key, VK_SPACE, 1 | (1 << 30));
  if (step == 1 || step == 2) ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_RETURN, step == 1 ? 1 | (1 << 30) : 1);
  if (step++ > 2) ::PostMessageW(box, WM_COMMAND, IDOK, 0);  // never left open
}

TEST_F(AboutTest, IsModelessSoTheCountdownGoesOnAndLaunchesWhileItIsOpen) {
  form.Text1.SetText(L"2");
  ::SendMessageW(form.Command1.hwnd(), BM_CLICK, 0, 0);
  ClickAbout();
  EXPECT_TRUE(::IsWindowEnabled(form.hwnd()));
  PumpUntil([&] { return !launcher.launches.empty(); }, 4000ms);
  ASSERT_EQ(launcher.launches.size(), 1u);
  EXPECT_EQ(launcher.launches[0].command_line, L"cmd.exe /c shutdown -s -t 3");
  EXPECT_TRUE(about_form.IsVisible());

  // Esc still closes it while a box of the main window runs its own loop (whose timer
  // types), with the message filter handed copies as on Windows: the box shows the key to
  // the filter, which hands it to the dialog manager, which shows it once more, and no more.
  // In the box itself an Enter or a Space held since before it opened presses nothing;
  // showing the main window (the icon's double-click, a wake, a refusal, a second start)
  // brings the box forward, not the main window it disables; then a fresh Enter presses OK.
  const test_support::CopyingMessageFilter filter;
  owner = &form;
  about_ok = about_form.Command1.hwnd();
  step = 0;
  open_after_held_keys = false;
  box_came_forward = false;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 200, &StepThroughTheBox);
  toolkit::MessageBoxPrompter().MsgBox(form.hwnd(), L"", toolkit::kCriticalOk, L"Morvane box");
  ::KillTimer(nullptr, timer);
  EXPECT_FALSE(about_form.IsLoaded()) << "Esc never reached About beside the box";
  EXPECT_EQ(filter.Deepest(), 2) << "the filter handed a key back to the dialog manager";
  EXPECT_TRUE(open_after_held_keys) << "an Enter or a Space held down pressed the box's OK";
  EXPECT_TRUE(box_came_forward) << "the disabled main window came forward, not its box";
  EXPECT_EQ(step, 3) << "a fresh Enter left the box open";
}

TEST_F(AboutTest, OutlivesTheMainWindowAndTheLastWindowClosedEndsTheForms) {
  ClickAbout();
  const int live = toolkit::Form::LiveForms();
  ::SendMessageW(form.hwnd(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(form.IsLoaded());
  EXPECT_TRUE(about_form.IsVisible());
  EXPECT_EQ(toolkit::Form::LiveForms(), live - 1);
  ::SendMessageW(about_form.Command1.hwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(toolkit::Form::LiveForms(), live - 2);
}

}  // namespace
