// The main window, real and on the screen, driven through its controls' messages.
// Launches go to a recorder and message boxes to a scripted stand-in.
#include <gtest/gtest.h>

#include <windows.h>

#include <imm.h>

#include <cstring>
#include <iostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "main_window/main_form.h"
#include "toolkit/dpi.h"
#include "tests/wine/test_support.h"

namespace {

using namespace std::chrono_literals;
using main_window::ControlId;
using test_support::Clock;
using test_support::Pump;
using test_support::PumpUntil;
using test_support::RecordingLauncher;
using test_support::RecordingSleepHold;
using test_support::ScriptedPrompter;
using test_support::SecondsSince;
using test_support::StyleOf;
using test_support::WindowText;

constexpr wchar_t kShutdown[] = L"cmd.exe /c shutdown -s -t 3";
constexpr wchar_t kRestart[] = L"cmd.exe /c shutdown -r -t 3";
constexpr wchar_t kErrorTitle[] = L"错误";
constexpr wchar_t kTooLarge[] = L"输入的数字过大";
constexpr wchar_t kChooseMode[] = L"请选择模式";
constexpr wchar_t kEnterTime[] = L"请输入正确的时间！";
constexpr wchar_t kCannotShutDown[] = L"无法启动关机命令。";
constexpr wchar_t kCannotRestart[] = L"无法启动重启命令。";
constexpr wchar_t kShutdownRefused[] =
    L"Windows 没有接受关机命令：此帐户无权关闭这台计算机；在受管理的计算机上，这由管理员决定（cmd.exe，代码 5）。";
constexpr wchar_t kRestartScheduled[] = L"Windows 没有接受重启命令：已有一次关机或重启在计划中（cmd.exe，代码 1190）。";
constexpr unsigned kInFront = 16 | MB_SETFOREGROUND | MB_TOPMOST;  // a power command's box

// One window serves every test: under Wine without a window manager each unmapping
// waits two seconds for the manager, so the form is made once and put back into its
// initial state before each test.
class MainForm : public testing::Test {
 protected:
  struct Shared {
    RecordingLauncher launcher;
    ScriptedPrompter prompter;
    RecordingSleepHold hold;
    // The recorder's commands never end unless a test ends them: none is told as still
    // running unless a test says so.
    main_window::main form{{launcher, prompter, L"host:8080", nullptr, &hold, std::chrono::hours(1)}};
    // The state straight after the first Show, before any test touched it.
    std::wstring first_text;
    bool first_option1 = false;
    bool first_option2 = true;
    bool first_timer = true;
    bool first_focus_in_text = false;
  };

  static void SetUpTestSuite() {
    shared_ = new Shared;
    shared_->form.Show();
    shared_->first_text = shared_->form.Text1.Text();
    shared_->first_option1 = shared_->form.Option1.Value();
    shared_->first_option2 = shared_->form.Option2.Value();
    shared_->first_timer = shared_->form.Timer1.Enabled();
    shared_->first_focus_in_text = ::GetFocus() == shared_->form.Text1.hwnd();
  }
  static void TearDownTestSuite() {
    delete shared_;
    shared_ = nullptr;
  }

  void SetUp() override {
    if (!form_.IsLoaded() || !form_.IsVisible()) form_.Show();
    ASSERT_TRUE(form_.IsLoaded());
    form_.Timer1.SetEnabled(false);
    prompter_.open_for = std::chrono::milliseconds(0);
    prompter_.while_open = nullptr;
    form_.Option1.SetValue(true);
    form_.Text1.SetText(L"60");
    form_.Text1.Focus();
    Pump(20ms);
    launcher_.launches.clear();
    launcher_.fails = false;
    prompter_.prompts.clear();
    hold_.reasons.clear();
    hold_.held = false;
    ASSERT_TRUE(form_.Option1.Value() && !form_.Option2.Value());
  }
  void TearDown() override {
    form_.Timer1.SetEnabled(false);
    launcher_.fails = false;
    launcher_.unwatched = false;
  }

  static Shared* shared_;
  RecordingLauncher& launcher_ = shared_->launcher;
  ScriptedPrompter& prompter_ = shared_->prompter;
  RecordingSleepHold& hold_ = shared_->hold;
  main_window::main& form_ = shared_->form;
  std::vector<std::wstring> seen_;

  HWND Item(int id) const { return ::GetDlgItem(form_.hwnd(), id); }
  void Click(const toolkit::Control& button) { ::SendMessageW(button.hwnd(), BM_CLICK, 0, 0); }
  void Start() { Click(form_.Command1); }

  // Types into the seconds field at the end of its text, as the keyboard would.
  void Type(std::wstring_view keys) {
    HWND edit = form_.Text1.hwnd();
    for (wchar_t key : keys) {
      const auto end = static_cast<WPARAM>(::GetWindowTextLengthW(edit));
      ::SendMessageW(edit, EM_SETSEL, end, static_cast<LPARAM>(end));
      ::SendMessageW(edit, WM_CHAR, key, 1);
    }
  }

  std::wstring Field() const { return form_.Text1.Text(); }

  // Windows' notice that the machine woke (PBT_APMRESUMEAUTOMATIC), or that a user is
  // there (PBT_APMRESUMESUSPEND), or of the console display's state (its GUID below).
  void Wake(WPARAM event = PBT_APMRESUMEAUTOMATIC) {
    ::PostMessageW(form_.hwnd(), WM_POWERBROADCAST, event, 0);
    Pump(100ms);
  }
  void Display(DWORD state) {
    struct {
      POWERBROADCAST_SETTING head;
      DWORD more;  // Data runs past the declared byte
    } notice{{{0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}}, sizeof(DWORD), {}}, 0};
    std::memcpy(notice.head.Data, &state, sizeof state);
    ::SendMessageW(form_.hwnd(), WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, reinterpret_cast<LPARAM>(&notice));
  }

  // A key pressed and released, handled by the loop as in a dialog box.
  void Key(HWND to, UINT vk) {
    ::PostMessageW(to, WM_KEYDOWN, vk, 1);
    ::PostMessageW(to, WM_KEYUP, vk, 1 | (1u << 30) | (1u << 31));
    Pump(30ms);
  }

  // The push buttons that look like the one Enter presses.
  std::vector<int> DefaultLooking() const {
    std::vector<int> ids;
    for (int id : {main_window::kCommand1, main_window::kCommand2, main_window::kCommand3, main_window::kCommand4})
      if ((StyleOf(Item(id)) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) ids.push_back(id);
    return ids;
  }

  // Exactly one message: this prompt, the critical icon with OK (16), titled "错误".
  void ExpectOneError(const wchar_t* prompt, unsigned flags = 16) const {
    ASSERT_EQ(prompter_.prompts.size(), 1u);
    EXPECT_EQ(prompter_.prompts[0].prompt, prompt);
    EXPECT_EQ(prompter_.prompts[0].flags, flags);
    EXPECT_EQ(prompter_.prompts[0].title, kErrorTitle);
  }

  // Waits until the field shows `text`; the texts it went through are collected.
  bool WaitForField(std::wstring_view text, std::chrono::milliseconds limit) {
    return PumpUntil(
        [&] {
          Observe();
          return Field() == text;
        },
        limit);
  }

  void Observe() {
    const std::wstring now = Field();
    if (seen_.empty() || seen_.back() != now) seen_.push_back(now);
  }
};

MainForm::Shared* MainForm::shared_ = nullptr;

// Stand-ins for Windows' power functions: (window, flags) registered, then (registration, 0)
// unregistered; the execution states set.
std::vector<std::pair<HANDLE, DWORD>> registrations;
std::vector<EXECUTION_STATE> states;

HPOWERNOTIFY WINAPI RecordRegistration(HANDLE window, DWORD flags) {
  registrations.emplace_back(window, flags);
  return reinterpret_cast<HPOWERNOTIFY>(&registrations);
}

BOOL WINAPI RecordUnregistration(HPOWERNOTIFY registration) {
  registrations.emplace_back(registration, 0);
  return TRUE;
}

HANDLE WINAPI NoPowerRequest(PREASON_CONTEXT) { return INVALID_HANDLE_VALUE; }

EXECUTION_STATE WINAPI RecordExecutionState(EXECUTION_STATE flags) {
  states.push_back(flags);
  return ES_CONTINUOUS;
}

// ---- Look ----------------------------------------------------------------------------

// The places at 96 DPI; at another system DPI (Windows 7 at 125 %, say) each scaled.
TEST_F(MainForm, LayoutAtTheSystemDpi) {
  const int dpi = form_.Dpi();
  EXPECT_EQ(dpi, toolkit::ScreenDpi());
  const auto px = [dpi](int at96) { return ::MulDiv(at96, dpi, 96); };
  const SIZE client = test_support::ClientSize(form_.hwnd());
  EXPECT_EQ(client.cx, px(444));
  EXPECT_EQ(client.cy, px(202));

  struct Place {
    int id;
    RECT rect;  // left, top, right, bottom in the form's client area
  };
  const Place places[] = {
      {main_window::kFrame1, {8, 8, 145, 73}},       {main_window::kText1, {24, 32, 121, 50}},
      {main_window::kCommand1, {8, 80, 105, 113}},   {main_window::kFrame2, {152, 8, 289, 73}},
      {main_window::kOption1, {176, 24, 281, 41}},   {main_window::kOption2, {176, 48, 281, 65}},
      {main_window::kCommand2, {112, 80, 201, 113}}, {main_window::kCommand3, {208, 80, 289, 113}},
      {main_window::kLabel1, {0, 184, 369, 201}},    {main_window::kFrame3, {8, 120, 289, 177}},
      {main_window::kFrame4, {296, 8, 433, 177}},    {main_window::kLabel2, {304, 16, 425, 169}},
      {main_window::kLabel3, {16, 128, 281, 169}},   {main_window::kCommand4, {304, 176, 441, 196}},
  };
  for (const Place& place : places) {
    HWND control = Item(place.id);
    ASSERT_NE(control, nullptr) << place.id;
    const RECT r = test_support::RectInParent(control);
    EXPECT_EQ(r.left, px(place.rect.left)) << "control " << place.id;
    EXPECT_EQ(r.top, px(place.rect.top)) << "control " << place.id;
    EXPECT_EQ(r.right, px(place.rect.left) + px(place.rect.right - place.rect.left)) << "control " << place.id;
    EXPECT_EQ(r.bottom, px(place.rect.top) + px(place.rect.bottom - place.rect.top)) << "control " << place.id;
  }
}

// Moving to a monitor of another scale lays everything out again from the twips, with
// fonts made for the new DPI, so the window stays crisp rather than being stretched.
// As Windows does, the window is first asked its exact size at the new DPI, and the
// rectangle it suggests is built from the answer.
TEST_F(MainForm, LayoutAndFontsFollowTheMonitorDpi) {
  const int original = form_.Dpi();
  for (int dpi : {96, 120, 144, 192, original}) {
    SCOPED_TRACE(dpi);
    RECT window{};
    ::GetWindowRect(form_.hwnd(), &window);
    SIZE scaled{window.right - window.left, window.bottom - window.top};
    ASSERT_TRUE(::SendMessageW(form_.hwnd(), toolkit::kWmGetDpiScaledSize, static_cast<WPARAM>(dpi),
                               reinterpret_cast<LPARAM>(&scaled)))
        << "the window leaves Windows to scale it linearly, frame and all";
    RECT exact{0, 0, ::MulDiv(6660, dpi, 1440), ::MulDiv(3030, dpi, 1440)};
    toolkit::AdjustWindowRectForDpi(exact, StyleOf(form_.hwnd()),
                                    static_cast<DWORD>(::GetWindowLongPtrW(form_.hwnd(), GWL_EXSTYLE)), dpi);
    EXPECT_EQ(scaled.cx, exact.right - exact.left);
    EXPECT_EQ(scaled.cy, exact.bottom - exact.top);
    RECT suggested{window.left, window.top, window.left + scaled.cx, window.top + scaled.cy};
    ::SendMessageW(form_.hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    ASSERT_EQ(form_.Dpi(), dpi);
    if (dpi == original) {
      // Where the frame is drawn as predicted, the window lands exactly on the suggestion.
      RECT landed{};
      ::GetWindowRect(form_.hwnd(), &landed);
      EXPECT_TRUE(::EqualRect(&landed, &suggested));
    }
    const SIZE client = test_support::ClientSize(form_.hwnd());
    EXPECT_EQ(client.cx, ::MulDiv(6660, dpi, 1440));
    EXPECT_EQ(client.cy, ::MulDiv(3030, dpi, 1440));
    const RECT text = test_support::RectInParent(form_.Text1.hwnd());
    EXPECT_EQ(text.left, ::MulDiv(120 + 240, dpi, 1440));
    EXPECT_EQ(text.top, ::MulDiv(120 + 360, dpi, 1440));
    EXPECT_EQ(text.right - text.left, ::MulDiv(1455, dpi, 1440));
    const RECT minimise = test_support::RectInParent(form_.Command4.hwnd());
    EXPECT_EQ(minimise.left, ::MulDiv(4560, dpi, 1440));
    EXPECT_EQ(minimise.bottom - minimise.top, ::MulDiv(300, dpi, 1440));
    LOGFONTW font{};
    ASSERT_TRUE(::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(form_.Text1.hwnd(), WM_GETFONT, 0, 0)), sizeof font,
                             &font));
    EXPECT_EQ(font.lfHeight, -::MulDiv(9, dpi, 72));
    EXPECT_EQ(font.lfCharSet, GB2312_CHARSET);
    for (const toolkit::Label* label : {&form_.Label1, &form_.Label2, &form_.Label3})
      EXPECT_TRUE(test_support::TextFits(label->hwnd())) << test_support::WindowText(label->hwnd());
  }
}

TEST_F(MainForm, Captions) {
  EXPECT_EQ(WindowText(form_.hwnd()), L"Morvane关机");
  struct Caption {
    int id;
    const wchar_t* text;
  };
  const Caption captions[] = {
      {main_window::kFrame1, L"时间"},
      {main_window::kText1, L"60"},
      {main_window::kCommand1, L"开始计时"},
      {main_window::kFrame2, L"模式"},
      {main_window::kOption1, L"关机"},
      {main_window::kOption2, L"重启"},
      {main_window::kCommand2, L"打开官网"},
      {main_window::kCommand3, L"关于"},
      {main_window::kCommand4, L"最小化"},
      {main_window::kLabel1, L"Copyright © 2014-2026 Morvane 版权所有"},
      {main_window::kLabel2, L"广告位1  诚招广告，。目前只接受文本广告，。每月15元"},
      {main_window::kLabel3, L"广告位2文本广告。每月10元。"},
      {main_window::kFrame3, L""},
      {main_window::kFrame4, L""},
  };
  for (const Caption& caption : captions) EXPECT_EQ(WindowText(Item(caption.id)), caption.text) << caption.id;
  // Windows names an edit box after the static just before it in z-order; hidden, it
  // shows nothing.
  HWND label = ::GetWindow(form_.Text1.hwnd(), GW_HWNDPREV);
  EXPECT_EQ(label, form_.Label4.hwnd());
  EXPECT_EQ(WindowText(label), L"时间");
  EXPECT_FALSE(::IsWindowVisible(label));
}

TEST_F(MainForm, InitialState) {
  EXPECT_EQ(shared_->first_text, L"60");
  EXPECT_TRUE(shared_->first_option1);
  EXPECT_FALSE(shared_->first_option2);
  EXPECT_FALSE(shared_->first_timer);
  EXPECT_TRUE(shared_->first_focus_in_text) << "the focus is not in the seconds field after Show";
  EXPECT_TRUE(form_.IsVisible());
}

TEST_F(MainForm, FixedBorderWithMinimiseBoxOnly) {
  const DWORD style = StyleOf(form_.hwnd());
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_EQ(style & WS_CAPTION, static_cast<DWORD>(WS_CAPTION));
  EXPECT_TRUE(style & WS_SYSMENU);
}

TEST_F(MainForm, LabelsShowAmpersandsAsTheyAre) {
  for (int id : {main_window::kLabel1, main_window::kLabel2, main_window::kLabel3})
    EXPECT_TRUE(StyleOf(Item(id)) & SS_NOPREFIX) << id;
}

TEST_F(MainForm, ModeOptionsFormOneExclusiveGroup) {
  HWND option1 = form_.Option1.hwnd();
  HWND option2 = form_.Option2.hwnd();
  EXPECT_EQ(StyleOf(option1) & BS_TYPEMASK, static_cast<DWORD>(BS_AUTORADIOBUTTON));
  EXPECT_EQ(StyleOf(option2) & BS_TYPEMASK, static_cast<DWORD>(BS_AUTORADIOBUTTON));
  EXPECT_EQ(::GetNextDlgGroupItem(form_.hwnd(), option1, FALSE), option2);
  EXPECT_EQ(::GetNextDlgGroupItem(form_.hwnd(), option2, FALSE), option1);

  Click(form_.Option2);
  EXPECT_TRUE(form_.Option2.Value());
  EXPECT_FALSE(form_.Option1.Value());
  Click(form_.Option1);
  EXPECT_TRUE(form_.Option1.Value());
  EXPECT_FALSE(form_.Option2.Value());
}

TEST_F(MainForm, TabOrderFollowsTheLayout) {
  const std::vector<HWND> expected = {form_.Command1.hwnd(), form_.Option1.hwnd(),  form_.Command2.hwnd(),
                                      form_.Command3.hwnd(), form_.Command4.hwnd(), form_.Text1.hwnd()};
  HWND at = form_.Text1.hwnd();
  for (HWND next : expected) {
    at = ::GetNextDlgTabItem(form_.hwnd(), at, FALSE);
    EXPECT_EQ(at, next) << "got control " << ::GetDlgCtrlID(at);
  }
  // The keys themselves. A focused push button looks the default; elsewhere 开始计时 does.
  for (HWND next : expected) {
    Key(::GetFocus(), VK_TAB);
    EXPECT_EQ(::GetFocus(), next) << "Tab reached control " << ::GetDlgCtrlID(::GetFocus());
    const int id = ::GetDlgCtrlID(next);
    const bool button = id >= main_window::kCommand2 && id <= main_window::kCommand4;
    EXPECT_EQ(DefaultLooking(), std::vector<int>{button ? id : main_window::kCommand1});
  }
  BYTE keys[256] = {};
  ASSERT_TRUE(::GetKeyboardState(keys));
  keys[VK_SHIFT] = 0x80;
  ::SetKeyboardState(keys);
  Key(::GetFocus(), VK_TAB);
  keys[VK_SHIFT] = 0;
  ::SetKeyboardState(keys);
  EXPECT_EQ(::GetFocus(), form_.Command4.hwnd()) << "Shift+Tab did not go back";
  ::SetFocus(form_.Option1.hwnd());
  Key(form_.Option1.hwnd(), VK_DOWN);
  EXPECT_EQ(::GetFocus(), form_.Option2.hwnd());
  EXPECT_TRUE(form_.Option2.Value()) << "the arrow moved without choosing";
}

// 开始计时 is the default button: Enter in the field or on an option runs its handler,
// and the Enter character never reaches the field. On another button Enter presses that
// one; Esc closes nothing. Each key acts once, with the message filter handed copies, as
// Windows hands them: the dialog manager shows it each key, and it must not take one back.
TEST_F(MainForm, EnterPressesTheDefaultButtonAndEscDoesNothing) {
  const test_support::CopyingMessageFilter filter;
  form_.Text1.SetText(L"1234");
  ::SendMessageW(form_.Text1.hwnd(), EM_SETSEL, 0, 0);
  Key(form_.Text1.hwnd(), VK_DELETE);
  EXPECT_EQ(Field(), L"234");
  EXPECT_EQ(filter.Deepest(), 1) << "the filter handed a key back to the dialog manager";
  form_.Text1.SetText(L"60");
  for (HWND at : {form_.Text1.hwnd(), form_.Option1.hwnd()}) {
    ::SetFocus(at);
    Key(at, VK_RETURN);
    EXPECT_TRUE(form_.Timer1.Enabled()) << "Enter on control " << ::GetDlgCtrlID(at);
    form_.Timer1.SetEnabled(false);
  }
  EXPECT_EQ(Field(), L"60");
  ::SetFocus(form_.Command2.hwnd());
  Key(form_.Command2.hwnd(), VK_RETURN);
  ASSERT_EQ(launcher_.launches.size(), 1u);
  EXPECT_EQ(launcher_.launches[0].command_line, L"explorer.exe http://host:8080/");
  Key(form_.Command2.hwnd(), VK_ESCAPE);
  EXPECT_TRUE(form_.IsVisible());
  EXPECT_FALSE(form_.Timer1.Enabled());
  EXPECT_TRUE(prompter_.prompts.empty());
}

// ---- Typing ---------------------------------------------------------------------------

TEST_F(MainForm, KeysOtherThanDigitsAndBackspaceAreDiscarded) {
  form_.Text1.SetText(L"");
  Type(L"a-+ .x\r\t");
  Type(L"\x16");  // Ctrl+V
  EXPECT_EQ(Field(), L"");
  Type(L"1b2");
  EXPECT_EQ(Field(), L"12");
  Type(L"\b");
  EXPECT_EQ(Field(), L"1");
  Type(L"９0");  // a full-width nine, as a Chinese input method types it, then a zero
  EXPECT_EQ(Field(), L"190");
  // No input method composes in the field; what one sends meets the rule before the box
  // has it (Windows' box inserts a WM_IME_CHAR at once, Wine's posts it on as a WM_CHAR).
  EXPECT_EQ(::ImmGetContext(form_.Text1.hwnd()), nullptr);
  for (wchar_t ime : {L'字', L'０'}) ::SendMessageW(form_.Text1.hwnd(), WM_IME_CHAR, ime, 1);
  MSG passed{};
  EXPECT_TRUE(!::PeekMessageW(&passed, form_.Text1.hwnd(), WM_CHAR, WM_CHAR, PM_NOREMOVE) || passed.wParam == L'0');
  Pump(50ms);
  EXPECT_EQ(Field(), L"1900");
  EXPECT_TRUE(launcher_.launches.empty());
  EXPECT_TRUE(prompter_.prompts.empty());
}

TEST_F(MainForm, CtrlVDoesNotPasteIntoTheField) {
  ASSERT_TRUE(::OpenClipboard(form_.hwnd()));
  ::EmptyClipboard();
  const wchar_t text[] = L"abc";
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, sizeof text);
  std::memcpy(::GlobalLock(memory), text, sizeof text);
  ::GlobalUnlock(memory);
  ::SetClipboardData(CF_UNICODETEXT, memory);
  ::CloseClipboard();

  Type(L"\x16");
  EXPECT_EQ(Field(), L"60");
}

// ---- The change rule -----------------------------------------------------------------

TEST_F(MainForm, AnEighthDigitIsRefusedOnceAndTheFieldReset) {
  form_.Text1.SetText(L"1234567");
  EXPECT_TRUE(prompter_.prompts.empty());
  Type(L"8");
  ASSERT_NO_FATAL_FAILURE(ExpectOneError(kTooLarge));
  EXPECT_EQ(prompter_.prompts[0].owner, form_.hwnd());
  EXPECT_EQ(Field(), L"60");
  Pump(50ms);
  EXPECT_EQ(Field(), L"60");
  EXPECT_EQ(prompter_.prompts.size(), 1u);
  EXPECT_TRUE(launcher_.launches.empty());

  // The same when the program writes an over-long text.
  form_.Text1.SetText(L"00000000");
  EXPECT_EQ(prompter_.prompts.size(), 2u);
  EXPECT_EQ(Field(), L"60");
  EXPECT_TRUE(launcher_.launches.empty());
}

TEST_F(MainForm, ZeroWithShutdownSelectedLaunchesShutdownEachTime) {
  form_.Text1.SetText(L"0");
  ASSERT_EQ(launcher_.launches.size(), 1u);
  EXPECT_EQ(launcher_.launches[0].command_line, kShutdown);
  EXPECT_EQ(launcher_.launches[0].without_cmd, L"shutdown.exe -s -t 3");  // where Windows will not run cmd.exe
  EXPECT_EQ(launcher_.launches[0].show_style, 2);
  EXPECT_FALSE(form_.Timer1.Enabled());

  Type(L"0");  // "00" is zero again
  EXPECT_EQ(Field(), L"00");
  ASSERT_EQ(launcher_.launches.size(), 2u);
  EXPECT_EQ(launcher_.launches[1].command_line, kShutdown);

  form_.Text1.SetText(L"");
  Type(L"0");  // typed, not written
  ASSERT_EQ(launcher_.launches.size(), 3u);
  EXPECT_EQ(launcher_.launches[2].command_line, kShutdown);
  EXPECT_EQ(launcher_.launches[2].show_style, 2);
  EXPECT_TRUE(prompter_.prompts.empty());
}

TEST_F(MainForm, ZeroWithRestartSelectedLaunchesRestart) {
  Click(form_.Option2);
  form_.Text1.SetText(L"000");
  ASSERT_EQ(launcher_.launches.size(), 1u);
  EXPECT_EQ(launcher_.launches[0].command_line, kRestart);
  EXPECT_EQ(launcher_.launches[0].without_cmd, L"shutdown.exe -r -t 3");
  EXPECT_EQ(launcher_.launches[0].show_style, 2);
}

// A power command that cannot be started must not pass for one that was.
TEST_F(MainForm, ACommandThatCannotBeStartedIsReported) {
  launcher_.fails = true;
  form_.Text1.SetText(L"0");
  ASSERT_EQ(launcher_.launches.size(), 1u);
  EXPECT_EQ(launcher_.launches[0].command_line, kShutdown);
  ASSERT_NO_FATAL_FAILURE(ExpectOneError(kCannotShutDown, kInFront));
  EXPECT_EQ(prompter_.prompts[0].owner, form_.hwnd());
  EXPECT_FALSE(form_.Timer1.Enabled());

  Click(form_.Option2);
  form_.Text1.SetText(L"00");
  ASSERT_EQ(launcher_.launches.size(), 2u);
  EXPECT_EQ(launcher_.launches[1].command_line, kRestart);
  ASSERT_EQ(prompter_.prompts.size(), 2u);
  EXPECT_EQ(prompter_.prompts[1].prompt, kCannotRestart);

  // At the end of a countdown, with the box left open a while: the count stays at 0.
  prompter_.prompts.clear();
  prompter_.open_for = 1500ms;
  form_.Text1.SetText(L"1");
  Start();
  ASSERT_TRUE(PumpUntil([&] { return !prompter_.prompts.empty(); }, 2500ms));
  EXPECT_EQ(Field(), L"0");
  ASSERT_NO_FATAL_FAILURE(ExpectOneError(kCannotRestart, kInFront));
  EXPECT_EQ(launcher_.launches.size(), 3u);
  EXPECT_FALSE(form_.Timer1.Enabled());

  // The browser is not worth a message.
  Click(form_.Command2);
  EXPECT_EQ(launcher_.launches.size(), 4u);
  EXPECT_EQ(prompter_.prompts.size(), 1u);
}

// `shutdown` can start and still refuse: its exit code is watched, and a refusal is
// told once, for the command it belongs to. Success is silent.
TEST_F(MainForm, ACommandThatWindowsRefusesIsReported) {
  form_.Text1.SetText(L"0");
  ASSERT_EQ(launcher_.launches.size(), 1u);
  ASSERT_TRUE(launcher_.launches[0].watched);
  EXPECT_EQ(launcher_.launches[0].window, form_.hwnd());
  ASSERT_TRUE(launcher_.End(0, 5));
  ASSERT_TRUE(PumpUntil([&] { return !prompter_.prompts.empty(); }, 2s)) << "a refusal was not told";
  ASSERT_NO_FATAL_FAILURE(ExpectOneError(kShutdownRefused, kInFront));
  EXPECT_EQ(prompter_.prompts[0].owner, form_.hwnd());
  EXPECT_TRUE(prompter_.prompts[0].owner_shown);
  // The same end told twice is told once: the command is no longer watched.
  ASSERT_TRUE(launcher_.End(0, 5));
  Pump(200ms);
  EXPECT_EQ(prompter_.prompts.size(), 1u);

  // Two commands out at once, ending in the other order: each is told as itself.
  prompter_.prompts.clear();
  form_.Text1.SetText(L"00");  // 关机
  Click(form_.Option2);
  form_.Text1.SetText(L"000");  // 重启
  ASSERT_EQ(launcher_.launches.size(), 3u);
  EXPECT_EQ(launcher_.launches[2].command_line, kRestart);
  ASSERT_TRUE(launcher_.End(2, 1190));
  ASSERT_TRUE(launcher_.End(1, 0));
  ASSERT_TRUE(PumpUntil([&] { return !prompter_.prompts.empty(); }, 2s));
  Pump(200ms);
  ASSERT_NO_FATAL_FAILURE(ExpectOneError(kRestartScheduled, kInFront));

  // The browser is not watched.
  Click(form_.Command2);
  ASSERT_EQ(launcher_.launches.size(), 4u);
  EXPECT_FALSE(launcher_.launches[3].watched);

  // A command whose watch could not be set up is not kept: its id may come again.
  prompter_.prompts.clear();
  launcher_.unwatched = true;
  form_.Text1.SetText(L"0");  // 重启, unwatched
  launcher_.unwatched = false;
  Click(form_.Option1);
  form_.Text1.SetText(L"00");  // 关机, under the same id
  ASSERT_EQ(launcher_.launches.at(5).id, launcher_.launches[4].id);
  ASSERT_TRUE(launcher_.End(5, 5));
  ASSERT_TRUE(PumpUntil([&] { return !prompter_.prompts.empty(); }, 2s));
  ASSERT_NO_FATAL_FAILURE(ExpectOneError(kShutdownRefused, kInFront));
}

// A box owned by a window hidden in the tray has no taskbar button and may never come to
// the front: the window comes back first, for a refusal and for a command not started.
TEST_F(MainForm, APowerCommandErrorBringsAHiddenWindowBackFirst) {
  form_.Hide();
  ASSERT_FALSE(form_.IsVisible());
  form_.Text1.SetText(L"0");
  ASSERT_TRUE(launcher_.End(0, 5));
  ASSERT_TRUE(PumpUntil([&] { return !prompter_.prompts.empty(); }, 2s));
  ASSERT_NO_FATAL_FAILURE(ExpectOneError(kShutdownRefused, kInFront));
  EXPECT_TRUE(prompter_.prompts[0].owner_shown);
  EXPECT_TRUE(form_.IsVisible());

  prompter_.prompts.clear();
  ::ShowWindow(form_.hwnd(), SW_MINIMIZE);
  launcher_.fails = true;
  form_.Text1.SetText(L"00");
  ASSERT_NO_FATAL_FAILURE(ExpectOneError(kCannotShutDown, kInFront));
  EXPECT_TRUE(prompter_.prompts[0].owner_shown);
  EXPECT_FALSE(::IsIconic(form_.hwnd()));

  // Success leaves a hidden window where it is, and so does a wake with nothing counting.
  form_.Hide();
  launcher_.fails = false;
  form_.Text1.SetText(L"000");
  ASSERT_TRUE(launcher_.End(launcher_.launches.size() - 1, 0));
  Pump(200ms);
  Wake();
  EXPECT_FALSE(form_.IsVisible());
  EXPECT_EQ(prompter_.prompts.size(), 1u);

  // Once Windows ends the session nothing is told, neither a command still running nor
  // one refused nor one not started, until the end is called off.
  prompter_.prompts.clear();
  form_.Text1.SetText(L"0");
  const std::size_t last = launcher_.launches.size() - 1;
  ::SendMessageW(form_.hwnd(), WM_QUERYENDSESSION, 0, 0);
  ::PostMessageW(form_.hwnd(), main_window::kPowerCommandStillRunning, 0, launcher_.launches[last].id);
  ASSERT_TRUE(launcher_.End(last, 1190));
  launcher_.fails = true;
  form_.Text1.SetText(L"00");
  Pump(200ms);
  EXPECT_TRUE(prompter_.prompts.empty()) << "told while the session ends";
  ::SendMessageW(form_.hwnd(), WM_ENDSESSION, FALSE, 0);
  form_.Text1.SetText(L"000");
  EXPECT_EQ(prompter_.prompts.size(), 1u);

  // Restart Manager closes the program (ENDSESSION_CLOSEAPP) as its close box does: the
  // icon goes, nothing is held, nothing is told; loaded again, it tells what goes wrong.
  launcher_.fails = false;
  form_.Text1.SetText(L"9");
  Start();
  NOTIFYICONDATAW icon{};  // changing an icon that is not there fails
  std::tie(icon.cbSize, icon.hWnd, icon.uID) = std::make_tuple(sizeof icon, form_.hwnd(), 1);
  ASSERT_TRUE(hold_.held && ::Shell_NotifyIconW(NIM_MODIFY, &icon));
  ::SendMessageW(form_.hwnd(), WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP);
  ::SendMessageW(form_.hwnd(), WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
  EXPECT_FALSE(form_.IsLoaded());
  EXPECT_FALSE(hold_.held || ::Shell_NotifyIconW(NIM_MODIFY, &icon)) << "the hold or the icon stayed";
  form_.Show();
  launcher_.fails = true;
  form_.Text1.SetText(L"0");
  EXPECT_EQ(prompter_.prompts.size(), 2u) << "silent once loaded again";
}

// Closed before its command ended, the window tells nothing afterwards, even when it is
// open again and the notice finds it.
TEST_F(MainForm, ACommandEndingAfterTheWindowClosedIsNotTold) {
  form_.Text1.SetText(L"0");
  ASSERT_EQ(launcher_.launches.size(), 1u);
  const RecordingLauncher::Record launch = launcher_.launches[0];
  form_.Unload();
  EXPECT_FALSE(launcher_.End(0, 1190)) << "posted to a window that is gone";
  form_.Show();
  ASSERT_TRUE(form_.IsLoaded());
  ::PostMessageW(form_.hwnd(), launch.message, 1190, static_cast<LPARAM>(launch.id));
  Pump(300ms);
  EXPECT_TRUE(prompter_.prompts.empty());
}

TEST_F(MainForm, NothingIsLaunchedWithoutAZero) {
  for (const wchar_t* text : {L"", L"1", L"10", L"0060"}) form_.Text1.SetText(text);
  form_.Text1.SetText(L"");
  Type(L"\b\b");
  Type(L"5\b");
  EXPECT_EQ(Field(), L"");
  // Without a mode a zero launches nothing either.
  form_.Option1.SetValue(false);
  ASSERT_FALSE(form_.Option1.Value() || form_.Option2.Value());
  form_.Text1.SetText(L"0");
  EXPECT_TRUE(launcher_.launches.empty());
}

// ---- Start and the countdown ---------------------------------------------------------

TEST_F(MainForm, StartWithoutAModeAsksForOne) {
  form_.Option1.SetValue(false);
  Start();
  ASSERT_NO_FATAL_FAILURE(ExpectOneError(kChooseMode));
  EXPECT_FALSE(form_.Timer1.Enabled());
  Pump(1200ms);
  EXPECT_EQ(Field(), L"60");
}

TEST_F(MainForm, StartWithoutATimeAsksForOne) {
  form_.Text1.SetText(L"");
  Start();
  ASSERT_NO_FATAL_FAILURE(ExpectOneError(kEnterTime));
  EXPECT_FALSE(form_.Timer1.Enabled());
}

TEST_F(MainForm, StartCountsDownFromLeadingZeros) {
  form_.Text1.SetText(L"0060");
  const auto start = Clock::now();
  Start();
  EXPECT_TRUE(form_.Timer1.Enabled());
  ASSERT_TRUE(WaitForField(L"59", 1600ms)) << "field: " << testing::PrintToString(Field());
  EXPECT_GE(SecondsSince(start), 0.95);
  EXPECT_EQ(seen_, (std::vector<std::wstring>{L"0060", L"59"}));
  EXPECT_TRUE(prompter_.prompts.empty());
}

TEST_F(MainForm, ACountdownEndsInOneLaunchAndNeverGoesNegative) {
  form_.Text1.SetText(L"2");
  const auto start = Clock::now();
  Start();
  ASSERT_TRUE(PumpUntil(
      [&] {
        Observe();
        return !launcher_.launches.empty();
      },
      3500ms));
  EXPECT_EQ(Field(), L"0");
  EXPECT_FALSE(form_.Timer1.Enabled());
  const double at = std::chrono::duration<double>(launcher_.launches[0].at - start).count();
  EXPECT_GT(at, 1.9);
  EXPECT_LT(at, 2.6);
  PumpUntil(
      [&] {
        Observe();
        return false;
      },
      1500ms);
  EXPECT_EQ(seen_, (std::vector<std::wstring>{L"2", L"1", L"0"}));
  ASSERT_EQ(launcher_.launches.size(), 1u);
  EXPECT_EQ(launcher_.launches[0].command_line, kShutdown);
  EXPECT_TRUE(prompter_.prompts.empty());
}

TEST_F(MainForm, StartOnZeroDoesNotCountBelowIt) {
  form_.Text1.SetText(L"0");
  ASSERT_EQ(launcher_.launches.size(), 1u);
  Start();
  PumpUntil(
      [&] {
        Observe();
        return false;
      },
      1300ms);
  EXPECT_EQ(seen_, (std::vector<std::wstring>{L"0"}));
  EXPECT_FALSE(form_.Timer1.Enabled());
  EXPECT_EQ(launcher_.launches.size(), 1u);
  EXPECT_TRUE(prompter_.prompts.empty());
}

TEST_F(MainForm, StartWhileRunningKeepsTheSchedule) {
  const auto start = Clock::now();
  Start();
  Pump(600ms);
  ASSERT_EQ(Field(), L"60");
  Start();
  EXPECT_TRUE(form_.Timer1.Enabled());
  ASSERT_TRUE(WaitForField(L"59", 1500ms));
  const double at = SecondsSince(start);
  EXPECT_LT(at, 1.35) << "the second Start restarted the countdown";
  ASSERT_TRUE(WaitForField(L"58", 1500ms));
  EXPECT_TRUE(prompter_.prompts.empty());
}

TEST_F(MainForm, SwitchingToRestartDuringTheCountdownRestarts) {
  form_.Text1.SetText(L"2");
  Start();
  Click(form_.Option2);
  ASSERT_TRUE(PumpUntil([&] { return !launcher_.launches.empty(); }, 3500ms));
  Pump(300ms);
  ASSERT_EQ(launcher_.launches.size(), 1u);
  EXPECT_EQ(launcher_.launches[0].command_line, kRestart);
}

TEST_F(MainForm, AnOverLongFieldShowsOneBoxWhileTheCountdownRuns) {
  Start();
  ASSERT_TRUE(WaitForField(L"59", 1500ms));
  std::vector<std::wstring> while_open;
  prompter_.open_for = 3500ms;
  prompter_.while_open = [&] {
    const std::wstring now = Field();
    if (while_open.empty() || while_open.back() != now) while_open.push_back(now);
  };
  Type(L"123456");  // "59123456": one digit too many
  ASSERT_EQ(prompter_.prompts.size(), 1u);
  EXPECT_EQ(prompter_.prompts[0].prompt, kTooLarge);
  // The countdown held still behind the open box, and raised no second one.
  EXPECT_EQ(while_open, (std::vector<std::wstring>{L"59123456"}));
  EXPECT_EQ(Field(), L"60");
  EXPECT_TRUE(form_.Timer1.Enabled());
  const auto closed = Clock::now();
  ASSERT_TRUE(WaitForField(L"59", 1500ms));
  EXPECT_LT(SecondsSince(closed), 1.2);
  EXPECT_EQ(prompter_.prompts.size(), 1u);
  EXPECT_TRUE(launcher_.launches.empty());
}

// Idle sleep waits while the countdown has something to count, and only then: not for a
// typed 0, an emptied field, after the launch or the window's end. A wake shows a
// countdown hidden in the tray but holds nothing until a user is there (the resume
// notice, or the display coming back on), since Windows may have ended the hold at the
// sleep. The window asks for these notices while it is loaded.
TEST_F(MainForm, IdleSleepWaitsForTheCountdownAndAWakeShowsIt) {
  form_.Text1.SetText(L"");
  Type(L"0");
  ASSERT_EQ(launcher_.launches.size(), 1u);
  EXPECT_TRUE(hold_.reasons.empty()) << "typing alone held off sleep";

  form_.Text1.SetText(L"30");
  Start();
  EXPECT_TRUE(hold_.held);
  form_.Hide();
  Wake();
  EXPECT_TRUE(form_.IsVisible()) << "a wake left the counting window hidden";
  EXPECT_EQ(hold_.reasons.size(), 1u) << "an unattended wake took the hold";
  Wake(PBT_APMRESUMESUSPEND);
  EXPECT_EQ(hold_.reasons.size(), 2u) << "the user's wake did not take the hold anew";
  Display(2);  // dimmed, then on: no wake
  Display(1);
  Display(0);
  Display(1);
  EXPECT_EQ(hold_.reasons.size(), 3u) << "the display back on did not take the hold anew";
  form_.Text1.SetText(L"");
  EXPECT_FALSE(hold_.held) << "held with nothing to count";
  Wake(PBT_APMRESUMESUSPEND);
  EXPECT_FALSE(hold_.held) << "a wake held with nothing to count";
  Type(L"2");
  EXPECT_TRUE(hold_.held);
  Click(form_.Option2);  // the hold is renamed at the next tick
  ASSERT_TRUE(PumpUntil([&] { return launcher_.launches.size() == 2; }, 3500ms));
  EXPECT_FALSE(hold_.held) << "still held after the launch";
  EXPECT_EQ(hold_.reasons, (std::vector<std::wstring>{L"倒计时结束后关机", L"倒计时结束后关机", L"倒计时结束后关机",
                                                      L"倒计时结束后关机", L"倒计时结束后重启"}));

  form_.Text1.SetText(L"5");
  Start();
  ASSERT_TRUE(hold_.held);
  form_.Unload();
  EXPECT_FALSE(hold_.held) << "still held after the window closed";

  registrations.clear();
  const test_support::StandIn<toolkit::RegisterSuspendResumeFunction> registers(toolkit::register_suspend_resume,
                                                                                &RecordRegistration);
  const test_support::StandIn<toolkit::UnregisterSuspendResumeFunction> unregisters(toolkit::unregister_suspend_resume,
                                                                                    &RecordUnregistration);
  form_.Show();
  const HWND window = form_.hwnd();
  form_.Unload();
  EXPECT_EQ(registrations,
            (std::vector<std::pair<HANDLE, DWORD>>{{window, DEVICE_NOTIFY_WINDOW_HANDLE}, {&registrations, 0}}));
}

// Where Windows has no power requests to give, the hold is the thread's execution state,
// and every release gives it back: else the machine would never idle to sleep again.
TEST(SystemIdleSleepHold, FallsBackToTheThreadsExecutionStateAndGivesItBack) {
  states.clear();
  const test_support::StandIn<toolkit::PowerCreateRequestFunction> no_requests(toolkit::power_create_request,
                                                                               &NoPowerRequest);
  const test_support::StandIn<toolkit::ExecutionStateFunction> recorded(toolkit::set_thread_execution_state,
                                                                        &RecordExecutionState);
  {
    toolkit::SystemIdleSleepHold hold;
    hold.Take(L"a");
    hold.Take(L"b");  // anew, the old one let go first
    hold.Release();
    hold.Release();
    hold.Take(L"c");
  }  // and let go with its owner
  constexpr EXECUTION_STATE kHeld = ES_CONTINUOUS | ES_SYSTEM_REQUIRED;
  EXPECT_EQ(states, (std::vector<EXECUTION_STATE>{kHeld, ES_CONTINUOUS, kHeld, ES_CONTINUOUS, kHeld, ES_CONTINUOUS}));
}

// A minute before the end, a shown window that is minimised or behind another program
// asks for a look through its taskbar button; nothing is shown, nothing takes the focus.
TEST_F(MainForm, AMinuteBeforeTheEndAWindowOutOfSightFlashes) {
  const test_support::RecordingFlash flash;
  for (bool minimised : {true, false}) {
    form_.Timer1.SetEnabled(false);
    form_.Show();
    form_.Text1.SetText(L"61");
    Start();
    // Minimised, the window may stay the foreground one (Wine's does); else another takes it.
    const toolkit::UniqueWindow other(
        ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr));
    ::SetForegroundWindow(minimised ? form_.hwnd() : other.get());
    if (minimised) ::ShowWindow(form_.hwnd(), SW_MINIMIZE);
    ASSERT_TRUE(WaitForField(L"59", 3000ms));
    EXPECT_EQ(flash.Flashed(), std::vector<HWND>(minimised ? 1 : 2, form_.hwnd())) << "flashed at every step, or never";
  }
  EXPECT_TRUE(prompter_.prompts.empty());
}

TEST_F(MainForm, TenTicksTakeTenSeconds) {
  form_.Text1.SetText(L"10");
  const auto start = Clock::now();
  Start();
  ASSERT_TRUE(PumpUntil([&] { return !launcher_.launches.empty(); }, 13s));
  const double seconds = std::chrono::duration<double>(launcher_.launches[0].at - start).count();
  std::cout << "[ timing   ] 10-tick countdown: Start to launch " << seconds << " s\n";
  EXPECT_GT(seconds, 9.9);
  EXPECT_LT(seconds, 11.0);
  EXPECT_EQ(Field(), L"0");
}

// ---- Other buttons -------------------------------------------------------------------

TEST_F(MainForm, SiteButtonOpensThePublisherSite) {
  Click(form_.Command2);
  ASSERT_EQ(launcher_.launches.size(), 1u);
  EXPECT_EQ(launcher_.launches[0].command_line, L"explorer.exe http://host:8080/");
  EXPECT_EQ(launcher_.launches[0].show_style, 2);
}

}  // namespace
